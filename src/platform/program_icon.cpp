#include "platform/program_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace sorowa::platform {

QPixmap ProgramIconPixmap(int side) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(side / 64.0, side / 64.0);
    const QColor ink(0x22, 0x22, 0x22);
    struct Card {
        QRectF rect;
        QColor fill;
        const char* number;
    };
    const Card cards[] = {{{4, 8, 24, 20}, QColor(0x4a, 0x90, 0xd9), "1"},
                          {{36, 8, 24, 20}, QColor(0xe8, 0xa3, 0x3d), "2"},
                          {{4, 36, 24, 20}, QColor(0x6b, 0xbf, 0x59), "3"}};
    QFont font(QStringLiteral("sans-serif"));
    font.setPixelSize(12);
    painter.setFont(font);
    for (const Card& card : cards) {
        painter.setPen(QPen(ink, 2));
        painter.setBrush(card.fill);
        painter.drawRect(card.rect);
        // Digits only where they can still be read.
        if (side >= 32) painter.drawText(card.rect, Qt::AlignCenter, QLatin1String(card.number));
    }
    QPainterPath arrow;
    arrow.moveTo(40, 48);
    arrow.lineTo(56, 48);
    arrow.lineTo(50, 42);
    arrow.moveTo(56, 48);
    arrow.lineTo(50, 54);
    painter.setPen(QPen(ink, 3));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(arrow);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    icon.addPixmap(ProgramIconPixmap(32));
    icon.addPixmap(ProgramIconPixmap(16));
    return icon;
}

} // namespace sorowa::platform
