#pragma once
// Enhanced metafiles: the header, checking the record stream and playing it into a painter.

#include <QList>
#include <QRect>
#include <QRgb>
#include <QSize>
#include <cstdint>
#include <optional>
#include <span>

class QPainter;

namespace sorowa::metafile {

struct EnhancedHeader {
    QRect bounds; // device units, inclusive
    QRect frame;  // 0.01 mm, inclusive: left, top, right, bottom as stored
    std::uint32_t bytes = 0;
    std::uint32_t records = 0;
    std::uint16_t handles = 0;
    std::uint32_t paletteEntries = 0;
    QSize devicePixels;
    QSize deviceMillimetres;
};

// True when data is long enough, starts with record type 1 and carries the " EMF" signature.
bool LooksEnhanced(std::span<const std::uint8_t> data);

// The header's fields; nullopt when data is shorter than the header's fixed part.
std::optional<EnhancedHeader> ReadEnhancedHeader(std::span<const std::uint8_t> data);

// Checks that the stream starts with its header record and that every record lies inside
// data; collects the palette of the end record.
bool CheckEnhancedMetafile(std::span<const std::uint8_t> data, QList<QRgb>* palette);

// Plays data (checked above) with its frame fitted to target.
void PlayEnhancedMetafile(std::span<const std::uint8_t> data, QPainter& painter,
                          const QRectF& target);

} // namespace sorowa::metafile
