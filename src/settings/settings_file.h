#pragma once
// The settings file beside the program file, and the steps of the main window and the
// options dialog that read and write it. Each step touches the file one value at a time,
// in a fixed order, through platform::ProfileFile; nothing is kept between accesses.
//
// The steps know nothing about windows: the caller hands in what they apply (callbacks)
// and what they store (values). A write that fails throws platform::EProfileWriteError
// out of the step, so the accesses after it are not made; the caller's error display
// shows the message.

#include "platform/profile.h"

#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

namespace sorowa::settings {

// programFile with its extension replaced by ".INI", or ".INI" appended when its file name
// has none. Only the last path component is looked at; a leading dot (a hidden file) is
// not an extension.
QString SettingsFilePath(const QString& programFile);

// Where the settings are kept: SettingsFilePath(programFile) whenever that file can be
// written there (or created there); otherwise, as for a program installed in a folder its
// user cannot write, a file of the same name in $XDG_CONFIG_HOME/sorowa (by default
// ~/.config/sorowa), whose folder is created as needed.
QString SettingsFileLocation(const QString& programFile);
// $XDG_CONFIG_HOME/sorowa, or ~/.config/sorowa when the variable is unset or not absolute.
QString UserSettingsFolder();

// A folder named in the settings file, made absolute: "~" and "~/..." name the home folder,
// any other relative folder is taken from base (the settings file's folder). An empty text
// stays empty.
QString AbsoluteFolder(const QString& folder, const QString& base);

// The five items of the size command.
enum class SizeItem { Size80, Size100, Size120, Size150, User };

// The item a stored size choice (`thumbnail`/`Number`) selects: 80, 100, 120, 150, or 999
// for the user size. Any other number selects nothing.
std::optional<SizeItem> SizeItemForNumber(int number);
int NumberForSizeItem(SizeItem item);

// What the main window's steps apply.
struct MainWindowHooks {
    std::function<QString()> currentDirectory; // unset: platform::CurrentDirectory
    std::function<void(const QString&)> setDefaultFolder;
    std::function<void(SizeItem)> runSizeCommand; // the size command with that item as sender
    std::function<void(int)> setLeft;
    std::function<void(int)> setTop;
    std::function<void(int)> setWidth;
    std::function<void(int)> setHeight;
};

// When the main window is first shown: the default folder (the current folder, written
// back, when none is stored), the size choice (100, written back, when none is stored)
// and, when `Position` is set, the stored placement.
void RunStartupSteps(const platform::ProfileFile& file, const MainWindowHooks& hooks);

// After the options dialog closed with OK: the default folder (keeping currentDefaultFolder
// when none is stored) and the size choice. Nothing is written.
void RunOptionsAcceptedSteps(const platform::ProfileFile& file, const QString& currentDefaultFolder,
                             const MainWindowHooks& hooks);

struct Placement {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// A stored placement (outer frame) fitted to the desktop, so that a hand-edited or stale
// value cannot put the window out of reach: the size is kept between kMinWindowSide and the
// desktop's size, at least kMinWindowSide pixels of the window's width stay on the desktop,
// and its top edge (where the title bar is) lies between kMaxTopOverhang pixels above the
// desktop and kMinWindowSide pixels above its bottom. A placement that fits is kept as it
// is, negative edges included.
inline constexpr int kMinWindowSide = 100;
inline constexpr int kMaxTopOverhang = 8;
Placement FitPlacement(const Placement& stored, const QRect& desktop);

// When the main window closes: Left, Top, Width and Height, whatever `Position` holds.
void WritePlacement(const platform::ProfileFile& file, const Placement& placement);

// The user size of the size command: `Size_W` (160) by `Size_H` (120). A hand-edited
// value is kept within kMinUserSide to kMaxUserSide pixels: a thumbnail of no width, or one
// so large that a few of them exhaust memory or the layout's arithmetic, helps no one.
inline constexpr int kMinUserSide = 16;
inline constexpr int kMaxUserSide = 1024;
QSize ReadUserSize(const platform::ProfileFile& file);

// What the options dialog shows and stores.
struct OptionValues {
    QString folder;
    int number = 100;
    int userWidth = 160;
    int userHeight = 120;
    bool restorePlacement = false;
    bool renameCompanions = true; // companion files are renamed with their pictures
};

// Dir (currentDirectory when none is stored), Number (100), Size_W, Size_H, Position.
OptionValues ReadOptionValues(const platform::ProfileFile& file, const QString& currentDirectory);
// Dir, Number, Size_W, Size_H, Position and Companions, in that order.
void WriteOptionValues(const platform::ProfileFile& file, const OptionValues& values);
// Companions in [Default]: whether a rename takes a picture's companion files along (true
// when not stored).
bool ReadRenameCompanions(const platform::ProfileFile& file);

} // namespace sorowa::settings
