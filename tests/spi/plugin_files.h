#pragma once
// The test plug-ins (built from test_plugin.c) and what they tell the test program.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace sorowa::test {

// Full path of a built test plug-in ("tppicture" -> .../plugins/tppicture.spi).
QString BuiltPlugin(const QString& name);
// Copies a built plug-in into folder as fileName (default: its own name); returns the path.
QString CopyPlugin(const QString& name, const QString& folder, const QString& fileName = {});

struct PluginEvent {
    QString plugin;
    QString event;
    int value = 0;
    QByteArray data; // IsSupported: the 2048 bytes it was given; IsSupportedName: the name
    const void* pointer = nullptr;
};

// Every event the plug-ins reported since the last ClearPluginEvents().
const std::vector<PluginEvent>& PluginEvents();
void ClearPluginEvents();
int CountEvents(const QString& plugin, const QString& event, std::optional<int> value = {});

// Answers GetPluginInfo of the "tpscripted" plug-in while set.
using InfoScript = std::function<std::int32_t(std::int32_t, char*, std::int32_t)>;
void SetInfoScript(InfoScript script);

} // namespace sorowa::test
