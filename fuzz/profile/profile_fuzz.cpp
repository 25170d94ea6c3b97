// Arbitrary bytes as a settings file: reading must not fail, and a write must change one
// value and nothing else: the bytes that differ before and after lie on one line, the
// value reads back, and a value of another section reads as it did.
#include "platform/file_names.h"
#include "platform/profile.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace {

using sorowa::platform::DecodeFileName;
using sorowa::platform::ProfileFile;

std::string folderName;

void RemoveFolder() {
    rmdir(folderName.c_str());
}

// Under $TMPDIR when set: every write syncs, so a tmpfs there keeps the fuzzer busy with
// parsing instead of waiting for the disk.
const std::string& Folder() {
    static const std::string folder = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/profile_fuzz.XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        folderName = pattern;
        std::atexit(RemoveFolder);
        return pattern;
    }();
    return folder;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "profile_fuzz: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = Folder() + "/sorowa.INI";
    const std::string before(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << before;
    }
    const ProfileFile file(DecodeFileName(path));
    const QString section = QStringLiteral("thumbnail");
    const QString key = QStringLiteral("Number");
    const QString other = file.ReadString(QStringLiteral("Default"), QStringLiteral("Dir"), {});
    file.ReadInteger(section, key, 0);
    file.ReadBool(QStringLiteral("Default"), QStringLiteral("Position"), false);

    file.WriteInteger(section, key, 123);
    const std::string after = ReadAll(path);
    Check(file.ReadInteger(section, key, 0) == 123, "written value does not read back");
    Check(file.ReadString(QStringLiteral("Default"), QStringLiteral("Dir"), {}) == other,
          "another section's value changed");

    // Strip the common prefix and suffix: what was removed must lie within one line.
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    const std::string removed = before.substr(prefix, before.size() - prefix - suffix);
    Check(removed.find('\n') == std::string::npos, "bytes of other lines were lost");
    std::remove(path.c_str());
    return 0;
}
