#include "picture/graphic.h"

#include "picture/stream.h"
#include "platform/display.h"

#include <QPalette>

namespace sorowa {

TCanvas::TCanvas(QPainter& painter, int bitsPerPixel, QColor background)
    : painter_(painter),
      bitsPerPixel_(bitsPerPixel > 0 ? bitsPerPixel : platform::ScreenBitsPerPixel()),
      background_(background.isValid() ? background : QPalette().color(QPalette::Window)) {}

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
