#pragma once
// Folders on mounts that the tests make for themselves (they run as root): a tmpfs that can be
// made read-only (root writes into any folder whatever its mode bits, but not into a read-only
// mount), and a small FAT volume (case-insensitive, no links, no RENAME_NOREPLACE through FUSE).

#include "platform/file_names.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>

namespace sorowa::test {

// A tmpfs mounted on a temporary folder, taken away again whatever the test's outcome.
class TmpfsMount {
public:
    explicit TmpfsMount(const std::string& at) : at_(at) {
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m") == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~TmpfsMount() {
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
    }
    bool Mounted() const { return mounted_; }
    int Error() const { return error_; }
    bool MakeReadOnly() {
        return ::mount(nullptr, at_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    std::string at_;
    bool mounted_ = false;
    int error_ = 0;
};

constexpr long kFuseMagic = 0x65735546;
constexpr long kMsdosMagic = 0x4d44;

inline bool RunQuietly(const QString& program, const QStringList& arguments,
                       QString* output = nullptr) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) return false;
    if (output) *output = QString::fromLocal8Bit(process.readAll()).trimmed();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A small FAT image made with mkfs.vfat and mounted with the kernel driver if the machine has
// it, else with the FUSE driver fusefat. Unmounted in the destructor, so also after a failed
// test; fusefat dies with the test process (PR_SET_PDEATHSIG) if the test process crashes.
class FatVolume {
public:
    static std::unique_ptr<FatVolume> Mount(std::string& whyNot) {
        auto volume = std::unique_ptr<FatVolume>(new FatVolume);
        const QString image = volume->dir_.filePath("fat.img");
        const QString mountPoint = volume->dir_.filePath("mnt");
        volume->mountPoint_ = platform::EncodeFileName(mountPoint);
        QFile file(image);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(8 << 20)) {
            whyNot = "cannot make the image file";
            return nullptr;
        }
        file.close();
        QString output;
        if (::mkdir(volume->mountPoint_.c_str(), 0755) != 0 ||
            !RunQuietly("mkfs.vfat", {image}, &output)) {
            whyNot = "mkfs.vfat failed: " + output.toStdString();
            return nullptr;
        }
        if (RunQuietly("mount", {"-o", "loop", image, mountPoint}, &output)) {
            volume->driver_ = "kernel vfat";
            return volume;
        }
        whyNot = "kernel driver: " + output.toStdString();
        volume->fuse_ = std::make_unique<QProcess>();
        volume->fuse_->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        volume->fuse_->setProcessChannelMode(QProcess::MergedChannels);
        volume->fuse_->setStandardOutputFile(QProcess::nullDevice());
        volume->fuse_->start("fusefat", {"-f", "-o", "rw+", image, mountPoint});
        if (!volume->fuse_->waitForStarted(10000)) {
            whyNot += "; fusefat: cannot start it";
            return nullptr;
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            struct statfs info {};
            if (::statfs(volume->mountPoint_.c_str(), &info) == 0 && info.f_type == kFuseMagic) {
                volume->driver_ = "fusefat";
                return volume;
            }
            if (volume->fuse_->waitForFinished(20)) break;
        }
        whyNot +=
            "; fusefat did not mount (exit code " + std::to_string(volume->fuse_->exitCode()) + ")";
        return nullptr;
    }

    ~FatVolume() {
        if (driver_.empty()) return;
        if (::umount2(mountPoint_.c_str(), 0) != 0) ::umount2(mountPoint_.c_str(), MNT_DETACH);
        if (fuse_ && !fuse_->waitForFinished(10000)) fuse_->kill(); // our own child, by its id
    }

    const std::string& Root() const { return mountPoint_; }
    const std::string& Driver() const { return driver_; }

private:
    FatVolume() = default;
    QTemporaryDir dir_;
    std::string mountPoint_;
    std::string driver_;
    std::unique_ptr<QProcess> fuse_;
};

} // namespace sorowa::test
