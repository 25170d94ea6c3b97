// Feeds arbitrary bytes to the icon reader and to TIcon (load, then draw on displays of
// several depths), checking what the rest of the program relies on: nothing is read
// outside the data, a decoded entry is no larger than the reader allows, and TIcon fails
// only with its own error kinds.
#include "picture/ico_reader.h"
#include "picture/icon.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QPainter>
#include <cstdlib>
#include <vector>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Read(const std::vector<std::uint8_t>& bytes) {
    const auto entries = sorowa::ico::ReadIconDirectory(bytes);
    if (!entries || entries->empty()) return;
    for (int colors : {0, 2, 16, 256}) {
        const std::size_t chosen = sorowa::ico::ChooseIconEntry(*entries, colors);
        Check(chosen < entries->size());
    }
    for (const auto& entry : *entries) {
        const QImage image = sorowa::ico::DecodeIconImage(bytes, entry);
        if (image.isNull()) continue;
        Check(image.width() <= sorowa::ico::kMaxIconSide);
        Check(image.height() <= sorowa::ico::kMaxIconSide);
    }
}

void LoadAndDraw(const std::vector<std::uint8_t>& bytes) {
    for (int bits : {4, 8, 24}) {
        sorowa::TIcon icon;
        icon.SetContext({.display = {.bitsPerPixel = bits}});
        try {
            sorowa::TMemoryStream stream(bytes);
            icon.LoadFromStream(stream);
            QImage target(40, 40, QImage::Format_RGB32);
            QPainter painter(&target);
            sorowa::TCanvas canvas(painter, bits);
            icon.Draw(canvas, QRect(2, 3, 30, 30));
            Check(icon.IconImage().isNull() || icon.IconImage().size() == QSize(32, 32));
        } catch (const sorowa::EInvalidGraphic&) {
        } catch (const sorowa::EReadError&) {
        } catch (const sorowa::EOutOfResources&) {
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that a read past the end is a heap overflow that ASan reports.
    const std::vector<std::uint8_t> bytes(data, data + size);
    Read(bytes);
    LoadAndDraw(bytes);
    return 0;
}
