#include "workspace/image.h"

#include <QPainter>

namespace sorowa {

TImage::TImage(const TPictureContext& context, QWidget* parent)
    : QWidget(parent), picture_(context) {
    picture_.SetOnChange([this] { PictureChanged(); });
}

void TImage::SetStretch(bool value) {
    if (value == stretch_) return;
    stretch_ = value;
    update();
}

void TImage::SetCenter(bool value) {
    if (value == center_) return;
    center_ = value;
    update();
}

QRect TImage::DestinationRect() const {
    if (stretch_) return rect();
    const QSize natural(picture_.Width(), picture_.Height());
    if (!center_) return QRect(QPoint(0, 0), natural);
    return QRect(QPoint((width() - natural.width()) / 2, (height() - natural.height()) / 2),
                 natural);
}

void TImage::PictureChanged() {
    // The thumbnail's pictures are drawn opaque; the palette is only a fact of the picture
    // here, since the painter works in true colour.
    if (TGraphic* graphic = picture_.Graphic()) graphic->SetPaletteModified(false);
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    TGraphic* graphic = picture_.Graphic();
    if (graphic == nullptr) return;
    QPainter painter(this);
    // Under the picture is what this control's parent fills it with, unless it fills itself.
    const QWidget* under = autoFillBackground() || parentWidget() == nullptr ? this : parentWidget();
    TCanvas canvas(painter, graphic->Context().display.BitsPerPixel(),
                   under->palette().color(under->backgroundRole()));
    graphic->Draw(canvas, DestinationRect());
}

} // namespace sorowa
