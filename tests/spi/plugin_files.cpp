#include "plugin_files.h"

#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <stdexcept>

namespace sorowa::test {
namespace {

// Never destroyed: a plug-in still loaded at exit reports its release after static
// objects are gone.
std::vector<PluginEvent>& Events() {
    static auto* events = new std::vector<PluginEvent>;
    return *events;
}

InfoScript& Script() {
    static InfoScript script;
    return script;
}

} // namespace

QString BuiltPlugin(const QString& name) {
    return QStringLiteral(SOROWA_TEST_PLUGINS "/") + name + QStringLiteral(".spi");
}

QString CopyPlugin(const QString& name, const QString& folder, const QString& fileName) {
    const QString target =
        folder + u'/' + (fileName.isEmpty() ? name + QStringLiteral(".spi") : fileName);
    QFile::remove(target);
    if (!QFile::copy(BuiltPlugin(name), target))
        throw std::runtime_error("cannot copy plug-in " + name.toStdString());
    return target;
}

const std::vector<PluginEvent>& PluginEvents() {
    return Events();
}

void ClearPluginEvents() {
    Events().clear();
}

int CountEvents(const QString& plugin, const QString& event, std::optional<int> value) {
    int count = 0;
    for (const PluginEvent& e : Events())
        if (e.plugin == plugin && e.event == event && (!value || e.value == *value)) ++count;
    return count;
}

void SetInfoScript(InfoScript script) {
    Script() = std::move(script);
}

} // namespace sorowa::test

// Called by the test plug-ins; resolved against this program when they are loaded.
extern "C" __attribute__((visibility("default"))) void
SorowaTestPluginEvent(const char* plugin, const char* event, const void* data, int value) {
    sorowa::test::PluginEvent e;
    e.plugin = QString::fromUtf8(plugin);
    e.event = QString::fromUtf8(event);
    e.value = value;
    e.pointer = data;
    if (e.event == QLatin1String("IsSupported"))
        e.data = QByteArray(static_cast<const char*>(data), 2048);
    else if (e.event == QLatin1String("IsSupportedName"))
        e.data = QByteArray(static_cast<const char*>(data));
    sorowa::test::Events().push_back(std::move(e));
}

extern "C" __attribute__((visibility("default"))) std::int32_t
SorowaTestPluginInfo(std::int32_t index, char* buffer, std::int32_t length) {
    auto& script = sorowa::test::Script();
    return script ? script(index, buffer, length) : 0;
}
