#include "settings/settings_file.h"

#include "platform/directories.h"

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

constexpr int kUserSizeNumber = 999;

void ApplySizeChoice(int number, const MainWindowHooks& hooks) {
    if (const std::optional<SizeItem> item = SizeItemForNumber(number)) hooks.runSizeCommand(*item);
}

} // namespace

QString SettingsFilePath(const QString& programFile) {
    const qsizetype nameStart = programFile.lastIndexOf(u'/') + 1;
    const qsizetype dot = programFile.lastIndexOf(u'.');
    const bool hasExtension = dot > nameStart;
    return (hasExtension ? programFile.left(dot) : programFile) + QStringLiteral(".INI");
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
    const QString folder = file.ReadString(kDefault, kDir, QString());
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
    hooks.setDefaultFolder(file.ReadString(kDefault, kDir, currentDefaultFolder));
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
    return {width, height};
}

OptionValues ReadOptionValues(const platform::ProfileFile& file, const QString& currentDirectory) {
    OptionValues values;
    values.folder = file.ReadString(kDefault, kDir, currentDirectory);
    values.number = file.ReadInteger(kThumbnail, kNumber, 100);
    values.userWidth = file.ReadInteger(kThumbnail, kSizeW, 160);
    values.userHeight = file.ReadInteger(kThumbnail, kSizeH, 120);
    values.restorePlacement = file.ReadBool(kDefault, kPosition, false);
    return values;
}

void WriteOptionValues(const platform::ProfileFile& file, const OptionValues& values) {
    file.WriteString(kDefault, kDir, values.folder);
    file.WriteInteger(kThumbnail, kNumber, values.number);
    file.WriteInteger(kThumbnail, kSizeW, values.userWidth);
    file.WriteInteger(kThumbnail, kSizeH, values.userHeight);
    file.WriteBool(kDefault, kPosition, values.restorePlacement);
}

} // namespace sorowa::settings
