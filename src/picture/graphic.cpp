#include "picture/graphic.h"

#include "picture/stream.h"
#include "platform/display.h"

namespace sorowa {

TCanvas::TCanvas(QPainter& painter, int bitsPerPixel)
    : painter_(painter),
      bitsPerPixel_(bitsPerPixel > 0 ? bitsPerPixel : platform::ScreenBitsPerPixel()) {}

bool TGraphicClass::InheritsFrom(const TGraphicClass& other) const {
    for (const TGraphicClass* c = this; c != nullptr; c = c->parent)
        if (c == &other) return true;
    return false;
}

void TGraphic::NotifyChange() {
    modified_ = true;
    if (onChange_) onChange_(*this);
}

void TGraphic::SetTransparent(bool value) {
    if (value == transparent_) return;
    transparent_ = value;
    NotifyChange();
}

void TGraphic::LoadFile(const QString& path) {
    TFileStream stream(path);
    LoadFromStream(stream);
}

void TGraphic::Progress(const TProgressReport& report) {
    if (onProgress_) onProgress_(*this, report);
}

} // namespace sorowa
