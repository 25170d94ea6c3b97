#include "picture/graphic.h"

#include "picture/stream.h"
#include "platform/display.h"

#include <QPalette>

namespace sorowa {

TCanvas::TCanvas(QPainter& painter, int bitsPerPixel, QColor background)
    : painter_(painter),
      bitsPerPixel_(bitsPerPixel > 0 ? bitsPerPixel : platform::TDisplay{}.BitsPerPixel()),
      background_(background) {}

// The palette is asked only by the few pictures that need the colour (a GIF on a window), not
// by every canvas: canvases are made for every paint, and on pool threads too.
QColor TCanvas::Background() const {
    return background_.isValid() ? background_ : QPalette().color(QPalette::Window);
}

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
