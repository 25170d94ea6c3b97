#pragma once
// Bounds-checked reading of metafile records, shared by the two players.

#include <QImage>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace sorowa::metafile {

// One record's bytes. Every read past the end gives 0, so a short record draws nothing
// sensible but never reads outside its data; the players check sizes before trusting
// counts.
class Record {
public:
    explicit Record(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::size_t Size() const { return bytes_.size(); }
    bool Has(std::size_t offset, std::size_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }
    std::uint8_t U8(std::size_t offset) const { return Has(offset, 1) ? bytes_[offset] : 0; }
    std::uint16_t U16(std::size_t offset) const {
        return Has(offset, 2) ? static_cast<std::uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8)
                              : 0;
    }
    std::int16_t I16(std::size_t offset) const { return static_cast<std::int16_t>(U16(offset)); }
    std::uint32_t U32(std::size_t offset) const {
        if (!Has(offset, 4)) return 0;
        return std::uint32_t{bytes_[offset]} | std::uint32_t{bytes_[offset + 1]} << 8 |
               std::uint32_t{bytes_[offset + 2]} << 16 | std::uint32_t{bytes_[offset + 3]} << 24;
    }
    std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }
    float F32(std::size_t offset) const {
        const std::uint32_t bits = U32(offset);
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // count bytes at offset, or an empty span when they are not all there.
    std::span<const std::uint8_t> Span(std::size_t offset, std::size_t count) const {
        if (!Has(offset, count)) return {};
        return bytes_.subspan(offset, count);
    }
    // Everything from offset on.
    std::span<const std::uint8_t> Tail(std::size_t offset) const {
        if (offset > bytes_.size()) return {};
        return bytes_.subspan(offset);
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// Reads a record's fields one after another, in the order the record lays them out, so a
// reader names each field once and offsets appear nowhere else. As with Record, a field
// past the end reads as 0: a short record plays as if padded with zeros.
class FieldReader {
public:
    FieldReader(const Record& record, std::size_t offset) : record_(record), offset_(offset) {}
    FieldReader(const Record&& record, std::size_t offset) = delete; // it keeps a reference
    std::uint8_t U8() { return record_.U8(Advance(1)); }
    std::uint16_t U16() { return record_.U16(Advance(2)); }
    std::int16_t I16() { return record_.I16(Advance(2)); }
    std::uint32_t U32() { return record_.U32(Advance(4)); }
    std::int32_t I32() { return record_.I32(Advance(4)); }
    float F32() { return record_.F32(Advance(4)); }
    void Skip(std::size_t bytes) { Advance(bytes); }
    // Where the next field starts.
    std::size_t Offset() const { return offset_; }

private:
    std::size_t Advance(std::size_t bytes) {
        const std::size_t at = offset_;
        offset_ = bytes > SIZE_MAX - offset_ ? SIZE_MAX : offset_ + bytes;
        return at;
    }

    const Record& record_;
    std::size_t offset_;
};

// A device-independent bitmap (header and colours in info, pixels in bits) through the
// program's bitmap reader; a null image when it is damaged or asks for more pixels than
// its data can describe. withAlpha keeps the fourth byte of 32-bit pixels as
// premultiplied alpha.
QImage DecodeDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits,
                 bool withAlpha = false);

// The pixels of a 1-bit, uncompressed DIB as indices 0 and 1 of a two-colour image,
// whatever its colour table says (a monochrome brush takes its colours from the drawing
// state); a null image for any other DIB or when the pixels are not all there.
QImage DecodeMonoDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits);

// A colour reference (red, green, blue, flags) as a colour.
inline QColor ColorRef(std::uint32_t value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>(value >> 8 & 0xFF),
                  static_cast<int>(value >> 16 & 0xFF));
}

} // namespace sorowa::metafile
