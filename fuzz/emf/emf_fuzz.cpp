// Feeds arbitrary bytes to the enhanced metafile player: loaded by TMetafile and drawn
// into two rectangles, and played directly (unchecked) as well, since the player must
// stop safely at any record it cannot trust. ASan and UBSan watch the reads.
#include "picture/emf_player.h"
#include "picture/metafile.h"
#include "picture/stream.h"

#include <QGuiApplication>
#include <QPainter>
#include <memory>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static int argc = 1;
    static char name[] = "emf_fuzz";
    static char* argv[] = {name, nullptr};
    static auto app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return std::make_unique<QGuiApplication>(argc, argv);
    }();
    const std::vector<std::uint8_t> bytes(data, data + size);
    QImage target(48, 36, QImage::Format_RGB32);
    QPainter painter(&target);
    sorowa::metafile::PlayEnhancedMetafile(bytes, painter, QRectF(0, 0, 47, 35));

    sorowa::TMetafile metafile;
    try {
        sorowa::TMemoryStream stream(bytes);
        metafile.LoadFromStream(stream);
    } catch (const sorowa::EInvalidGraphic&) {
        return 0;
    } catch (const sorowa::EReadError&) {
        return 0;
    }
    sorowa::TCanvas canvas(painter);
    metafile.Draw(canvas, QRect(0, 0, 48, 36));
    metafile.Draw(canvas, QRect(5, 4, 9, 7));
    return 0;
}
