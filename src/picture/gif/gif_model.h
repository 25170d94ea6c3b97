#pragma once
// What a GIF file holds, as read: the header with the global colour table, the frames with
// their extensions and colour indices, and the registries that say which class reads which
// extension. Reading lives in gif_reader.cpp, bitmaps and drawing in gif_frame_bitmap.cpp.

#include "picture/bitmap.h"
#include "picture/graphic.h"
#include "platform/memory_budget.h"

#include <QImage>
#include <QList>
#include <QRgb>
#include <QStringList>
#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace sorowa {

class TGIFImage;
class TGIFSubImage;
class TGIFReader;

// The error kind of the GIF reader; its texts are English.
class GIFException : public EInvalidGraphic {
public:
    using EInvalidGraphic::EInvalidGraphic;
};

namespace gifmsg {
inline constexpr const char* kInvalidSignature = "Invalid GIF signature";
inline constexpr const char* kPrematureEnd = "Premature end of data";
inline constexpr const char* kUnknownExtension = "Unknown extension type";
inline constexpr const char* kInvalidIntroducer = "Invalid extension introducer";
inline constexpr const char* kExtensionMismatch =
    "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* kAppExtSize = "Unsupported Application Extension block size";
inline constexpr const char* kInvalidData = "Invalid GIF data";
inline constexpr const char* kCircularEntry = "Circular decoder table entry";
inline constexpr const char* kNoColorTable = "No global or local color table defined";
inline constexpr const char* kUnknownBlock = "Unknown GIF block type";
inline constexpr const char* kExceedsScreen = "Image exceeds Logical Screen size";
inline constexpr const char* kBitBufferUnderrun = "Decoder bit buffer under-run";
inline constexpr const char* kInvalidTrailer = "Invalid Image trailer";
inline constexpr const char* kInvalidColorIndex = "Invalid color index";
inline constexpr const char* kOutOfMemory = "Failed to allocate memory for GIF DIB";
inline constexpr const char* kColorTableOverflow = "Color table overflow";
inline constexpr const char* kLoading = "Loading...";
inline constexpr const char* kRendering = "Rendering...";
} // namespace gifmsg

enum class TGIFSeverity { Information, Warning, Error };

// An element that belongs to one picture.
class TGIFItem {
public:
    explicit TGIFItem(TGIFImage* image) : image_(image) {}
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;
    TGIFImage* Image() const { return image_; }

private:
    TGIFImage* image_;
};

// A colour table: red, green, blue per entry in file order.
class TGIFColorMap {
public:
    struct Entry {
        std::uint8_t red = 0, green = 0, blue = 0;
        bool operator==(const Entry&) const = default;
    };
    static constexpr int kMaxColors = 256;

    virtual ~TGIFColorMap() = default;
    int Count() const { return count_; }
    int Capacity() const { return static_cast<int>(entries_.size()); }
    bool Empty() const { return count_ == 0; }
    const Entry& operator[](int index) const { return entries_[static_cast<std::size_t>(index)]; }
    void Clear();
    // Appends one colour; more than 256 is "Color table overflow".
    void Add(Entry entry);
    // Replaces the table with count entries of 3 bytes each.
    void Assign(std::span<const std::uint8_t> rgb);
    // One palette entry per table entry.
    QList<QRgb> ToPalette() const;

    // The capacity that holds count entries: 16 for up to 16, else the next multiple of 32,
    // never above 256.
    static int CapacityFor(int count);

private:
    std::vector<Entry> entries_;
    int count_ = 0;
};

class TGIFGlobalColorMap : public TGIFColorMap {};
class TGIFLocalColorMap : public TGIFColorMap {};

// The logical screen descriptor and the global colour table.
class TGIFHeader : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    // The 7 descriptor bytes in file layout.
    std::array<std::uint8_t, 7> descriptor{};
    TGIFGlobalColorMap colorMap;

    int Width() const { return descriptor[0] | descriptor[1] << 8; }
    int Height() const { return descriptor[2] | descriptor[3] << 8; }
    void SetWidth(int width);
    void SetHeight(int height);
    std::uint8_t Packed() const { return descriptor[4]; }
    std::uint8_t BackgroundColorIndex() const { return descriptor[5]; }
    std::uint8_t AspectRatio() const { return descriptor[6]; }
    void Clear();
};

// The trailer byte; read and checked, nothing kept.
class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
};

// An allocator whose vectors leave new elements uninitialised: the reader writes every colour
// index of a frame itself, and clearing a large frame first would touch its memory twice.
template <typename T> struct TUninitializedAllocator : std::allocator<T> {
    using value_type = T;
    template <typename U> struct rebind { using other = TUninitializedAllocator<U>; };
    TUninitializedAllocator() = default;
    template <typename U> TUninitializedAllocator(const TUninitializedAllocator<U>&) noexcept {}
    template <typename U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Args> void construct(U* place, Args&&... args) {
        std::construct_at(place, std::forward<Args>(args)...);
    }
};

// A frame's colour indices.
using TGIFPixels = std::vector<std::uint8_t, TUninitializedAllocator<std::uint8_t>>;

inline bool operator==(const TGIFPixels& a, const std::vector<std::uint8_t>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

class TGIFExtension;

// A class of extensions as the registries know it.
struct TGIFExtensionClass {
    const char* name;
    std::uint8_t label;
    std::unique_ptr<TGIFExtension> (*create)(TGIFSubImage& frame);
};

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage& frame);
    virtual const TGIFExtensionClass& ClassType() const = 0;
    std::uint8_t Label() const { return ClassType().label; }
    TGIFSubImage& Frame() const { return frame_; }
    // Reads the whole extension from its introducer on.
    void Read(TGIFReader& reader);

protected:
    virtual void ReadBody(TGIFReader& reader) = 0;

private:
    TGIFSubImage& frame_;
};

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFExtension::TGIFExtension;
    const TGIFExtensionClass& ClassType() const override { return Class; }

    // Block size, packed flags, delay (2 bytes), transparent index, terminator.
    std::array<std::uint8_t, 6> block{};
    int Disposal() const { return (block[1] >> 2) & 7; }
    bool HasTransparentColor() const { return (block[1] & 1) != 0; }
    int Delay() const { return block[2] | block[3] << 8; }
    std::uint8_t TransparentColorIndex() const { return block[4]; }

protected:
    void ReadBody(TGIFReader& reader) override;
};

class TGIFTextExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFExtension::TGIFExtension;
    const TGIFExtensionClass& ClassType() const override { return Class; }

    // Block size and the 12-byte plain-text descriptor.
    std::array<std::uint8_t, 13> descriptor{};
    QList<QByteArray> text;

protected:
    void ReadBody(TGIFReader& reader) override;
};

class TGIFCommentExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFExtension::TGIFExtension;
    const TGIFExtensionClass& ClassType() const override { return Class; }

    QList<QByteArray> comment;

protected:
    void ReadBody(TGIFReader& reader) override;
};

// One raw data sub-block.
struct TGIFBlock {
    std::vector<std::uint8_t> data;
};

class TGIFApplicationExtension : public TGIFExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFExtension::TGIFExtension;
    const TGIFExtensionClass& ClassType() const override { return Class; }

    // The 8-byte name and the 3-byte authentication code.
    std::array<std::uint8_t, 11> identifier{};

protected:
    void ReadBody(TGIFReader& reader) override;
    // The sub-blocks after the identifier. Identifiers of more than 11 bytes leave us with
    // this general class; their sub-blocks are kept like an unknown extension's (see
    // tests/data/gif/app-extension-size-12.gif).
    virtual void ReadData(TGIFReader& reader);

public:
    std::vector<TGIFBlock> blocks;
};

// "NETSCAPE2.0" or "ANIMEXTS1.0": the loop count.
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFApplicationExtension::TGIFApplicationExtension;
    const TGIFExtensionClass& ClassType() const override { return Class; }

    int loops = 0;

protected:
    void ReadData(TGIFReader& reader) override;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    static const TGIFExtensionClass Class;
    using TGIFApplicationExtension::TGIFApplicationExtension;
    const TGIFExtensionClass& ClassType() const override { return Class; }
};

// An owning list of items.
template <typename T> class TGIFList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    T& operator[](int index) const { return *items_[static_cast<std::size_t>(index)]; }
    T& Add(std::unique_ptr<T> item) { return *items_.emplace_back(std::move(item)); }
    void Clear() { items_.clear(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::unique_ptr<T>> items_;
};

class TGIFExtensionList : public TGIFList<TGIFExtension> {};

// One frame.
class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFImage* image) : TGIFItem(image) {}

    // Separator, left, top, width, height (16 bits each), packed flags.
    std::array<std::uint8_t, 10> descriptor{};
    TGIFLocalColorMap colorMap;
    TGIFExtensionList extensions;
    // width * height colour indices, rows top to bottom; empty without an image.
    TGIFPixels pixels;
    // The share of the process's decoded-bytes budget that pixels and bitmap hold.
    platform::DecodedBytesLease pixelsLease;
    platform::DecodedBytesLease bitmapLease;
    bool hasImage = false;
    bool transparent = false;
    TGIFGraphicControlExtension* graphicControl = nullptr;

    int Left() const { return Word(1); }
    int Top() const { return Word(3); }
    int Width() const { return Word(5); }
    int Height() const { return Word(7); }
    void SetWidth(int width) { SetWord(5, width); }
    void SetHeight(int height) { SetWord(7, height); }
    bool Interlaced() const { return (descriptor[9] & 0x40) != 0; }
    bool Empty() const { return !hasImage || Width() == 0 || Height() == 0; }
    // The local table, or the global one when the frame has none.
    const TGIFColorMap& ActiveColorMap() const;

    // Made when the frame is first drawn (gif_frame_bitmap.cpp).
    QImage bitmap;
    // Rows of ((width + 15) / 16) * 2 bytes, most significant bit first; 1 = transparent.
    std::vector<std::uint8_t> mask;
    bool hasMask = false;
    bool maskNeeded = true;
    std::optional<QList<QRgb>> cachedPalette;

    int MaskStride() const { return ((Width() + 15) / 16) * 2; }
    bool MaskBit(int x, int y) const {
        return (mask[static_cast<std::size_t>(y * MaskStride() + x / 8)] & (0x80 >> (x % 8))) != 0;
    }
    void ClearBitmap();

    // Scaled copies kept between paints of the same size.
    TStretchCache stretchCache;
    QImage stretched;
    QRect stretchedFor, stretchedVisible;
    bool stretchedMasked = false;

private:
    int Word(int at) const { return descriptor[at] | descriptor[at + 1] << 8; }
    void SetWord(int at, int value);
};

class TGIFImageList : public TGIFList<TGIFSubImage> {};

// The extension registry: label to class, searched from the last registration.
// Holds the built-in four (0x01, 0xF9, 0xFE, 0xFF) from first use on.
void RegisterExtension(std::uint8_t label, const TGIFExtensionClass& extensionClass);
// Removes the latest registration of that label and class.
void UnregisterExtension(std::uint8_t label, const TGIFExtensionClass& extensionClass);
const TGIFExtensionClass* FindExtension(std::uint8_t label);

// The application-extension registry: 11-byte identifier to class, searched the same way.
void RegisterAppExtension(const char (&identifier)[12], const TGIFExtensionClass& extensionClass);
const TGIFExtensionClass* FindAppExtension(std::span<const std::uint8_t, 11> identifier);

} // namespace sorowa
