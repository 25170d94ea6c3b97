#pragma once
// Windows metafiles: checking the record stream and playing it into a painter.

#include <QList>
#include <QRectF>
#include <QRgb>
#include <cstdint>
#include <span>

class QPainter;

namespace sorowa::metafile {

struct WindowsMetafileFacts {
    std::uint16_t objects = 0; // slots of the object table
    QList<QRgb> palette;       // entries of the palettes it creates
};

// Checks the 18-byte header and that every record lies inside body; false when not.
bool CheckWindowsMetafile(std::span<const std::uint8_t> body, WindowsMetafileFacts* facts);

// Plays body (checked above) with the logical rectangle window fitted to target.
void PlayWindowsMetafile(std::span<const std::uint8_t> body, const QRectF& window,
                         QPainter& painter, const QRectF& target);

} // namespace sorowa::metafile
