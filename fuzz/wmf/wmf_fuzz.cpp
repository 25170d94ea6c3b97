// Feeds arbitrary bytes to the Windows metafile player: as they are (a placeable file, or
// a body with a valid placeable header put in front), loaded by TMetafile and drawn into
// two rectangles. Only the metafile's own error kinds may come out; ASan and UBSan watch
// the reads.
#include "picture/metafile.h"
#include "picture/stream.h"
#include "picture/wmf_player.h"

#include <QGuiApplication>
#include <QPainter>
#include <memory>
#include <vector>

namespace {

std::vector<std::uint8_t> WithPlaceableHeader(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> file{0xD7, 0xCD, 0xC6, 0x9A, 0,    0, 0, 0, 0, 0,
                                   200,  0,    100,  0,    0x60, 0, 0, 0, 0, 0};
    std::uint16_t checksum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2)
        checksum ^= static_cast<std::uint16_t>(file[i] | file[i + 1] << 8);
    file.push_back(static_cast<std::uint8_t>(checksum));
    file.push_back(static_cast<std::uint8_t>(checksum >> 8));
    file.insert(file.end(), data, data + size);
    return file;
}

void LoadAndDraw(std::vector<std::uint8_t> bytes) {
    sorowa::TMetafile metafile;
    try {
        sorowa::TMemoryStream stream(std::move(bytes));
        metafile.LoadFromStream(stream);
    } catch (const sorowa::EInvalidGraphic&) {
        return;
    } catch (const sorowa::EReadError&) {
        return;
    }
    QImage target(48, 36, QImage::Format_RGB32);
    QPainter painter(&target);
    sorowa::TCanvas canvas(painter);
    metafile.Draw(canvas, QRect(0, 0, 48, 36));
    metafile.Draw(canvas, QRect(5, 4, 9, 7));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "wmf_fuzz";
    static char* argv[] = {name, nullptr};
    static auto app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QGuiApplication>(argc, argv);
    }();
    LoadAndDraw(std::vector<std::uint8_t>(data, data + size));
    LoadAndDraw(WithPlaceableHeader(data, size));
    return 0;
}
