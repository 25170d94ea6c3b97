#include "picture/icon.h"

#include "picture/ico_reader.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QPainter>

namespace sorowa {

const TGraphicClass TIcon::Class{"TIcon", nullptr,
                                 [] { return std::unique_ptr<TGraphic>(new TIcon); }};

namespace {

const QString kInvalidIcon = QStringLiteral("アイコンイメージが不正です");
const QString kNoResources = QStringLiteral("システム リソースが足りません");

// The stock application icon that stands for an icon file of type 0: a small window.
QImage StockApplicationIcon(QSize size) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const QRect frame(1, 3, size.width() - 2, size.height() - 6);
    painter.fillRect(frame, QColor(255, 255, 255));
    painter.fillRect(QRect(frame.left(), frame.top(), frame.width(), 5), QColor(0, 0, 128));
    painter.setPen(QColor(0, 0, 0));
    painter.drawRect(frame.adjusted(0, 0, -1, -1));
    return image;
}

} // namespace

TIcon::TIcon() {
    SetTransparent(true);
    SetModified(false);
}

int TIcon::Width() const {
    return platform::SystemIconSize().width();
}

int TIcon::Height() const {
    return platform::SystemIconSize().height();
}

void TIcon::SetWidth(int) {
    throw EInvalidGraphicOperation(QStringLiteral("アイコンのサイズは変更できません"));
}

void TIcon::SetHeight(int) {
    throw EInvalidGraphicOperation(QStringLiteral("アイコンのサイズは変更できません"));
}

void TIcon::LoadFromStream(TStream& stream) {
    std::vector<std::uint8_t> bytes = stream.ReadRemaining();
    const std::optional<ico::IconHeader> header = ico::ReadIconHeader(bytes);
    if (!header) throw EReadError(QStringLiteral("ストリームからの読み込みエラー"));
    if (header->type > 1) throw EInvalidGraphic(kInvalidIcon);
    bytes_ = std::move(bytes);
    icon_ = QImage();
    decoded_ = false;
    failed_ = false;
    NotifyChange();
}

void TIcon::MakeIcon() {
    const QSize size = platform::SystemIconSize();
    const std::optional<ico::IconHeader> header = ico::ReadIconHeader(bytes_);
    if (header && header->type == 0) {
        icon_ = StockApplicationIcon(size);
        return;
    }
    const std::optional<std::vector<ico::IconEntry>> entries = ico::ReadIconDirectory(bytes_);
    if (!entries || entries->empty()) throw EOutOfResources(kNoResources);
    const std::size_t chosen = ico::ChooseIconEntry(*entries, Context().display.ColorCount());
    const QImage image = ico::DecodeIconImage(bytes_, (*entries)[chosen]);
    if (image.isNull()) throw EOutOfResources(kNoResources);
    icon_ = ico::IconAtSize(image, size);
}

const QImage& TIcon::IconImage() {
    if (!decoded_ && !failed_ && !bytes_.empty()) {
        try {
            MakeIcon();
            decoded_ = true;
        } catch (...) {
            // Reported once: the picture draws nothing afterwards, so that every repaint
            // does not raise the same error box again (tests/picture/icon_test.cpp,
            // DamagedIconFailsAtTheFirstDrawOnly).
            failed_ = true;
            throw;
        }
    }
    return icon_;
}

void TIcon::Draw(TCanvas& canvas, const QRect& rect) {
    const QImage& image = IconImage();
    if (image.isNull()) return;
    canvas.Painter().drawImage(rect.topLeft(), image);
}

} // namespace sorowa
