#include "arrangement/arrangement_store.h"

#include "platform/file_io.h"
#include "platform/file_names.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace sorowa::arrangement {
namespace {

using platform::FileDescriptor;
using platform::SyncFolder;
using platform::WriteAll;

constexpr char kSuffix[] = ".arrangement";
constexpr char kTemporarySuffix[] = ".tmp";

std::string Encoded(const QString& path) {
    return platform::EncodeFileName(path);
}

// Creates folder and the folders above it that are missing, private to the user as state
// folders should be.
int MakeFolders(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return errno;
    return S_ISDIR(info.st_mode) ? 0 : ENOTDIR;
}

std::string TemporaryName(const std::string& base, pid_t pid) {
    return base + '.' + std::to_string(pid) + kTemporarySuffix;
}

// A writer killed between creating its temporary file and renaming it leaves the file behind,
// named for its process. Those of processes that no longer run are removed; one of a process
// that runs (another instance of the program, writing now) is left alone.
void RemoveStaleTemporaries(const std::string& folder, const std::string& base) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return;
    const std::string prefix = base + '.';
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(prefix) || !name.ends_with(kTemporarySuffix)) continue;
        const std::string digits(name.substr(prefix.size(), name.size() - prefix.size() -
                                                                (sizeof kTemporarySuffix - 1)));
        char* end = nullptr;
        const long pid = std::strtol(digits.c_str(), &end, 10);
        if (digits.empty() || *end != '\0' || pid <= 0 || pid > INT_MAX) continue;
        if (pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH)
            continue;
        ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
    }
}

// The whole file, or nullopt for anything but a regular file of at most kMaxStateFileBytes.
std::optional<std::string> ReadBounded(const std::string& path) {
    // O_NONBLOCK: a FIFO put in the file's place must not hang the program.
    const FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (fd.Get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    if (info.st_size < 0 || static_cast<std::uint64_t>(info.st_size) > kMaxStateFileBytes)
        return std::nullopt;
    std::string bytes;
    bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t have = 0;
    // The file may grow while it is read (it is never written in place by this program, but
    // anyone may): one byte more than its size tells.
    while (have < bytes.size()) {
        const ssize_t count = ::read(fd.Get(), bytes.data() + have, bytes.size() - have);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        have += static_cast<std::size_t>(count);
    }
    if (have > static_cast<std::size_t>(info.st_size)) return std::nullopt;
    bytes.resize(have);
    return bytes;
}

} // namespace

QString StateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!base.startsWith(u'/')) base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/sorowa");
}

std::optional<QString> CanonicalFolder(const QString& folder) {
    const std::unique_ptr<char, void (*)(void*)> resolved(
        ::realpath(Encoded(folder).c_str(), nullptr), std::free);
    if (!resolved) return std::nullopt;
    return platform::DecodeFileName(resolved.get());
}

QString StateFilePath(const QString& canonicalFolder) {
    const QByteArray path = QByteArray::fromStdString(Encoded(canonicalFolder));
    const QByteArray hash = QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex();
    return StateFolder() + u'/' + QString::fromLatin1(hash) + QLatin1String(kSuffix);
}

std::vector<TArrangedFile> DescribeFiles(const QString& folder, const QStringList& names) {
    std::vector<TArrangedFile> files;
    files.reserve(static_cast<std::size_t>(names.size()));
    const std::string prefix = Encoded(folder) + '/';
    for (const QString& name : names) {
        struct stat info {};
        if (::stat((prefix + Encoded(name)).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        const std::int64_t modified =
            static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
        files.push_back({name, static_cast<std::int64_t>(info.st_size), modified});
    }
    return files;
}

int SaveArrangement(const TArrangement& arrangement) {
    const std::string folder = Encoded(StateFolder());
    if (const int code = MakeFolders(folder); code != 0) return code;
    const std::string target = Encoded(StateFilePath(arrangement.folder));
    const std::string base = target.substr(target.rfind('/') + 1);
    RemoveStaleTemporaries(folder, base);

    // One temporary name per process: only the GUI thread saves, so it is never written by
    // two writers at once.
    const std::string temporary = TemporaryName(target, ::getpid());
    FileDescriptor fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (fd.Get() < 0) return errno;
    const auto fail = [&](int code) {
        if (fd.Get() >= 0) fd.Close();
        ::unlink(temporary.c_str());
        return code;
    };
    if (const int code = WriteAll(fd.Get(), FormatArrangement(arrangement)); code != 0)
        return fail(code);
    if (::fsync(fd.Get()) != 0) return fail(errno);
    if (fd.Close() != 0) return fail(errno);
    if (::rename(temporary.c_str(), target.c_str()) != 0) return fail(errno);
    // The new file is in place even if the folder cannot be synced; the rename reaches the
    // disk a little later then.
    SyncFolder(folder);
    return 0;
}

std::optional<TArrangement> LoadArrangement(const QString& canonicalFolder) {
    const std::optional<std::string> text = ReadBounded(Encoded(StateFilePath(canonicalFolder)));
    if (!text) return std::nullopt;
    TParseResult parsed = ParseArrangement(*text);
    // A file of another folder under this folder's name (copied, or a hash that collides) is
    // not this folder's arrangement.
    if (!parsed.arrangement || parsed.arrangement->folder != canonicalFolder) return std::nullopt;
    return std::move(parsed.arrangement);
}

int ForgetArrangement(const QString& canonicalFolder) {
    const std::string target = Encoded(StateFilePath(canonicalFolder));
    if (::unlink(target.c_str()) != 0 && errno != ENOENT) return errno;
    return 0;
}

} // namespace sorowa::arrangement
