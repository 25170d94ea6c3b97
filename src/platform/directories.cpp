#include "platform/directories.h"

#include "platform/errors.h"
#include "platform/file_names.h"

#include <QCoreApplication>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace sorowa::platform {
namespace {

// The running program file; Qt's answer only where /proc is not mounted.
QString RunningProgramFile() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return QCoreApplication::applicationFilePath();
    return DecodeFileName(std::string(buffer, static_cast<std::size_t>(length)));
}

} // namespace

QString CurrentDirectory() {
    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer) == nullptr) return {};
    return DecodeFileName(buffer);
}

void SetCurrentDirectory(const QString& path) {
    if (chdir(EncodeFileName(path).c_str()) != 0) {
        const int code = errno;
        throw EInOutError(SystemErrorText(code) + QStringLiteral(": ") + path, code);
    }
}

ProgramPlaces ProgramPlaces::OfThisProgram() {
    return {RunningProgramFile()};
}

QString ChangeFileExt(const QString& path, const QString& ext) {
    const qsizetype nameStart = path.lastIndexOf(u'/') + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    return (dot > nameStart ? path.left(dot) : path) + ext;
}

bool FileExists(const QString& path) {
    struct stat info {};
    return stat(EncodeFileName(path).c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

} // namespace sorowa::platform
