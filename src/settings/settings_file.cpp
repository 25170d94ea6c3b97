#include "settings/settings_file.h"

#include "platform/directories.h"
#include "platform/file_names.h"

#include <QDir>
#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sorowa::settings {
namespace {

const QString kDefault = QStringLiteral("Default");
const QString kThumbnail = QStringLiteral("thumbnail");
const QString kDir = QStringLiteral("Dir");
const QString kPosition = QStringLiteral("Position");
const QString kLeft = QStringLiteral("Left");
const QString kTop = QStringLiteral("Top");
const QString kWidth = QStringLiteral("Width");
const QString kHeight = QStringLiteral("Height");
const QString kNumber = QStringLiteral("Number");
const QString kSizeW = QStringLiteral("Size_W");
const QString kSizeH = QStringLiteral("Size_H");
const QString kCompanions = QStringLiteral("Companions");

constexpr int kUserSizeNumber = 999;

void ApplySizeChoice(int number, const MainWindowHooks& hooks) {
    if (const std::optional<SizeItem> item = SizeItemForNumber(number)) hooks.runSizeCommand(*item);
}

QString FolderOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash < 0) return platform::CurrentDirectory();
    return slash == 0 ? QStringLiteral("/") : path.left(slash);
}

// Whether the profile writer can write path: it puts a new file beside it and renames
// that over it, so the folder must take new files, and an existing file must be writable
// itself (an immutable file cannot be replaced either). The checks use the effective
// user, and unlike permission bits, a read-only file system or an immutable folder stops
// root as well.
bool CanWriteFile(const QString& path) {
    const std::string bytes = platform::EncodeFileName(path);
    struct stat info {};
    if (::stat(bytes.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return false;
        if (::faccessat(AT_FDCWD, bytes.c_str(), W_OK, AT_EACCESS) != 0) return false;
    }
    const std::string folder = platform::EncodeFileName(FolderOf(path));
    return ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

QString HomeFolder() {
    return QDir::homePath();
}

} // namespace

QString SettingsFilePath(const QString& programFile) {
    return platform::ChangeFileExt(programFile, QStringLiteral(".INI"));
}

QString UserSettingsFolder() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!base.startsWith(u'/')) base = HomeFolder() + QStringLiteral("/.config");
    return base + QStringLiteral("/sorowa");
}

QString SettingsFileLocation(const QString& programFile) {
    const QString beside = SettingsFilePath(programFile);
    if (CanWriteFile(beside)) return beside;
    const QString folder = UserSettingsFolder();
    QDir().mkpath(folder); // a failure shows at the first write, which names the file
    return folder + u'/' + beside.mid(beside.lastIndexOf(u'/') + 1);
}

QString AbsoluteFolder(const QString& folder, const QString& base) {
    if (folder.isEmpty() || folder.startsWith(u'/')) return folder;
    if (folder == u'~') return HomeFolder();
    if (folder.startsWith(QStringLiteral("~/"))) return HomeFolder() + folder.mid(1);
    return QDir::cleanPath(base + u'/' + folder);
}

std::optional<SizeItem> SizeItemForNumber(int number) {
    switch (number) {
    case 80:
        return SizeItem::Size80;
    case 100:
        return SizeItem::Size100;
    case 120:
        return SizeItem::Size120;
    case 150:
        return SizeItem::Size150;
    case kUserSizeNumber:
        return SizeItem::User;
    default:
        return std::nullopt;
    }
}

int NumberForSizeItem(SizeItem item) {
    switch (item) {
    case SizeItem::Size80:
        return 80;
    case SizeItem::Size100:
        return 100;
    case SizeItem::Size120:
        return 120;
    case SizeItem::Size150:
        return 150;
    case SizeItem::User:
        return kUserSizeNumber;
    }
    return 100;
}

void RunStartupSteps(const platform::ProfileFile& file, const MainWindowHooks& hooks) {
    const QString folder =
        AbsoluteFolder(file.ReadString(kDefault, kDir, QString()), FolderOf(file.Path()));
    hooks.setDefaultFolder(folder);
    if (folder.isEmpty()) {
        const QString current =
            hooks.currentDirectory ? hooks.currentDirectory() : platform::CurrentDirectory();
        hooks.setDefaultFolder(current);
        file.WriteString(kDefault, kDir, current);
    }

    int number = file.ReadInteger(kThumbnail, kNumber, 0);
    if (number == 0) {
        file.WriteInteger(kThumbnail, kNumber, 100);
        number = 100;
    }
    ApplySizeChoice(number, hooks);

    if (!file.ReadBool(kDefault, kPosition, false)) return;
    hooks.setLeft(file.ReadInteger(kDefault, kLeft, 0));
    hooks.setTop(file.ReadInteger(kDefault, kTop, 0));
    hooks.setWidth(file.ReadInteger(kDefault, kWidth, 500));
    hooks.setHeight(file.ReadInteger(kDefault, kHeight, 400));
}

void RunOptionsAcceptedSteps(const platform::ProfileFile& file, const QString& currentDefaultFolder,
                             const MainWindowHooks& hooks) {
    hooks.setDefaultFolder(AbsoluteFolder(file.ReadString(kDefault, kDir, currentDefaultFolder),
                                          FolderOf(file.Path())));
    ApplySizeChoice(file.ReadInteger(kThumbnail, kNumber, 0), hooks);
}

void WritePlacement(const platform::ProfileFile& file, const Placement& placement) {
    file.WriteInteger(kDefault, kLeft, placement.left);
    file.WriteInteger(kDefault, kTop, placement.top);
    file.WriteInteger(kDefault, kWidth, placement.width);
    file.WriteInteger(kDefault, kHeight, placement.height);
}

QSize ReadUserSize(const platform::ProfileFile& file) {
    const int width = file.ReadInteger(kThumbnail, kSizeW, 160);
    const int height = file.ReadInteger(kThumbnail, kSizeH, 120);
    return {std::clamp(width, kMinUserSide, kMaxUserSide),
            std::clamp(height, kMinUserSide, kMaxUserSide)};
}

Placement FitPlacement(const Placement& stored, const QRect& desktop) {
    // 64-bit arithmetic: the stored values may be anything a 32-bit integer holds.
    const auto clamp = [](qint64 value, qint64 low, qint64 high) {
        return static_cast<int>(std::clamp(value, low, std::max(low, high)));
    };
    Placement fitted;
    fitted.width = clamp(stored.width, kMinWindowSide, desktop.width());
    fitted.height = clamp(stored.height, kMinWindowSide, desktop.height());
    fitted.left = clamp(stored.left, qint64{desktop.left()} - fitted.width + kMinWindowSide,
                        qint64{desktop.left()} + desktop.width() - kMinWindowSide);
    fitted.top = clamp(stored.top, qint64{desktop.top()} - kMaxTopOverhang,
                       qint64{desktop.top()} + desktop.height() - kMinWindowSide);
    return fitted;
}

OptionValues ReadOptionValues(const platform::ProfileFile& file, const QString& currentDirectory) {
    OptionValues values;
    values.folder =
        AbsoluteFolder(file.ReadString(kDefault, kDir, currentDirectory), FolderOf(file.Path()));
    values.number = file.ReadInteger(kThumbnail, kNumber, 100);
    values.userWidth = file.ReadInteger(kThumbnail, kSizeW, 160);
    values.userHeight = file.ReadInteger(kThumbnail, kSizeH, 120);
    values.restorePlacement = file.ReadBool(kDefault, kPosition, false);
    values.renameCompanions = ReadRenameCompanions(file);
    return values;
}

void WriteOptionValues(const platform::ProfileFile& file, const OptionValues& values) {
    file.WriteString(kDefault, kDir, values.folder);
    file.WriteInteger(kThumbnail, kNumber, values.number);
    file.WriteInteger(kThumbnail, kSizeW, values.userWidth);
    file.WriteInteger(kThumbnail, kSizeH, values.userHeight);
    file.WriteBool(kDefault, kPosition, values.restorePlacement);
    // Written only once it was turned off, so that a file of someone who never did holds
    // exactly the five values.
    if (!values.renameCompanions || file.ReadString(kDefault, kCompanions, {}) != QString())
        file.WriteBool(kDefault, kCompanions, values.renameCompanions);
}

bool ReadRenameCompanions(const platform::ProfileFile& file) {
    return file.ReadBool(kDefault, kCompanions, true);
}

} // namespace sorowa::settings
