// Feeds arbitrary bytes to decoder plug-ins' GetPictureInfo, GetPicture and, where a plug-in
// has it, GetPreview (loaded by the real host), checking what the host relies on: a failure leaves no block behind, a success
// hands back two live blocks whose header describes a picture the blocks hold. Which
// plug-ins: SOROWA_FUZZ_PLUGINS, file names separated by "," (one target per group, each
// with its own corpus).
#include "spi/local_memory.h"
#include "spi/spi.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

std::vector<std::unique_ptr<sorowa::TSPI>>& Plugins() {
    static std::vector<std::unique_ptr<sorowa::TSPI>> plugins = [] {
        std::vector<std::unique_ptr<sorowa::TSPI>> list;
        for (const QString& name : QStringLiteral(SOROWA_FUZZ_PLUGINS).split(u','))
            list.push_back(sorowa::TSPI::Create<sorowa::TInSPI>(
                QString::fromUtf8(SOROWA_BUILT_PLUGINS "/") + name));
        return list;
    }();
    return plugins;
}

std::int32_t Progress(std::int32_t, std::int32_t, std::int32_t) {
    return 0;
}

void CheckResult(std::uint32_t infoHandle, std::uint32_t pixelHandle) {
    Check(sorowa::spi::IsLocalHandle(infoHandle) && sorowa::spi::IsLocalHandle(pixelHandle));
    Check(LocalSize(infoHandle) >= 40);
    const auto* header = static_cast<const unsigned char*>(LocalLock(infoHandle));
    std::int32_t width, height;
    std::memcpy(&width, header + 4, 4);
    std::memcpy(&height, header + 8, 4);
    Check(width > 0 && height > 0 && header[14] == 24);
    Check(std::uint64_t(width) * std::uint64_t(height) <= std::uint64_t{1} << 28);
    Check(LocalSize(pixelHandle) >= (std::uint64_t(width) * 3 + 3) / 4 * 4 * std::uint64_t(height));
    LocalUnlock(infoHandle);
    LocalFree(infoHandle);
    LocalFree(pixelHandle);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (std::size_t{1} << 24)) return 0;
    // An exact-size copy (a read past the end is a heap overflow ASan reports), and the
    // zero-filled 2048 bytes that short data always comes in.
    std::vector<char> bytes(data, data + size);
    std::vector<char> padded(std::max<std::size_t>(size, 2048), 0);
    if (size > 0) std::memcpy(padded.data(), data, size);
    const std::size_t before = sorowa::spi::LiveLocalBlocks();
    for (const auto& plugin : Plugins()) {
        const char* input = size < 2048 ? padded.data() : bytes.data();
        plugin->IsSupported("", padded.data());
        PictureInfo info{};
        plugin->GetPictureInfo(input, static_cast<std::int32_t>(size), SPI_INPUT_MEMORY, &info);
        std::uint32_t infoHandle = 0, pixelHandle = 0;
        if (plugin->GetPicture(input, static_cast<std::int32_t>(size), SPI_INPUT_MEMORY,
                               &infoHandle, &pixelHandle, &Progress, 1) == 0)
            CheckResult(infoHandle, pixelHandle);
        Check(sorowa::spi::LiveLocalBlocks() == before);
        if (plugin->HasGetPreview()) {
            infoHandle = pixelHandle = 0;
            if (plugin->GetPreview(input, static_cast<std::int32_t>(size), SPI_INPUT_MEMORY,
                                   &infoHandle, &pixelHandle, &Progress, 1) == 0)
                CheckResult(infoHandle, pixelHandle);
            Check(sorowa::spi::LiveLocalBlocks() == before);
        }
    }
    return 0;
}
