#include "picture/gif/gif_model.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace sorowa {

// --- colour tables ---

int TGIFColorMap::CapacityFor(int count) {
    if (count <= 16) return 16;
    return std::min(kMaxColors, (count + 31) / 32 * 32);
}

void TGIFColorMap::Clear() {
    entries_.clear();
    count_ = 0;
}

void TGIFColorMap::Add(Entry entry) {
    if (count_ >= kMaxColors) throw GIFException(QString::fromLatin1(gifmsg::kColorTableOverflow));
    if (count_ >= Capacity()) entries_.resize(static_cast<std::size_t>(CapacityFor(count_ + 1)));
    entries_[static_cast<std::size_t>(count_++)] = entry;
}

void TGIFColorMap::Assign(std::span<const std::uint8_t> rgb) {
    const int count = static_cast<int>(rgb.size() / 3);
    if (count > kMaxColors) throw GIFException(QString::fromLatin1(gifmsg::kColorTableOverflow));
    entries_.assign(static_cast<std::size_t>(CapacityFor(count)), Entry{});
    for (int i = 0; i < count; ++i) {
        const auto at = static_cast<std::size_t>(i) * 3;
        entries_[static_cast<std::size_t>(i)] = Entry{rgb[at], rgb[at + 1], rgb[at + 2]};
    }
    count_ = count;
}

QList<QRgb> TGIFColorMap::ToPalette() const {
    QList<QRgb> palette;
    palette.reserve(count_);
    for (int i = 0; i < count_; ++i) {
        const Entry& e = entries_[static_cast<std::size_t>(i)];
        palette.append(qRgb(e.red, e.green, e.blue));
    }
    return palette;
}

// --- header and frames ---

void TGIFHeader::SetWidth(int width) {
    descriptor[0] = static_cast<std::uint8_t>(width);
    descriptor[1] = static_cast<std::uint8_t>(width >> 8);
}

void TGIFHeader::SetHeight(int height) {
    descriptor[2] = static_cast<std::uint8_t>(height);
    descriptor[3] = static_cast<std::uint8_t>(height >> 8);
}

void TGIFHeader::Clear() {
    descriptor.fill(0);
    colorMap.Clear();
}

TGIFExtension::TGIFExtension(TGIFSubImage& frame) : TGIFItem(frame.Image()), frame_(frame) {}

void TGIFSubImage::SetWord(int at, int value) {
    descriptor[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(value);
    descriptor[static_cast<std::size_t>(at) + 1] = static_cast<std::uint8_t>(value >> 8);
}

void TGIFSubImage::ClearBitmap() {
    bitmap = QImage();
    bitmapLease.Release();
    mask.clear();
    hasMask = false;
    maskNeeded = true;
    cachedPalette.reset();
    stretchCache.Clear();
    stretched = QImage();
}

// --- extension classes ---

namespace {
template <typename T> std::unique_ptr<TGIFExtension> Make(TGIFSubImage& frame) {
    return std::make_unique<T>(frame);
}
} // namespace

const TGIFExtensionClass TGIFGraphicControlExtension::Class{"TGIFGraphicControlExtension", 0xF9,
                                                            Make<TGIFGraphicControlExtension>};
const TGIFExtensionClass TGIFTextExtension::Class{"TGIFTextExtension", 0x01,
                                                  Make<TGIFTextExtension>};
const TGIFExtensionClass TGIFCommentExtension::Class{"TGIFCommentExtension", 0xFE,
                                                     Make<TGIFCommentExtension>};
const TGIFExtensionClass TGIFApplicationExtension::Class{"TGIFApplicationExtension", 0xFF,
                                                         Make<TGIFApplicationExtension>};
const TGIFExtensionClass TGIFAppExtNSLoop::Class{"TGIFAppExtNSLoop", 0xFF, Make<TGIFAppExtNSLoop>};
const TGIFExtensionClass TGIFUnknownAppExtension::Class{"TGIFUnknownAppExtension", 0xFF,
                                                        Make<TGIFUnknownAppExtension>};

// --- registries ---

namespace {

struct ExtensionEntry {
    std::uint8_t label;
    const TGIFExtensionClass* extensionClass;
};

struct AppExtensionEntry {
    std::array<std::uint8_t, 11> identifier;
    const TGIFExtensionClass* extensionClass;
};

std::array<std::uint8_t, 11> Identifier(const char (&text)[12]) {
    std::array<std::uint8_t, 11> id{};
    std::memcpy(id.data(), text, 11);
    return id;
}

// Both registries come into being on first use, with the built-in classes, and live until
// the program ends. Loading happens on the GUI thread, but render threads of animation may
// ask too, so each is guarded.
struct Registries {
    std::mutex lock;
    std::vector<ExtensionEntry> extensions{
        {0x01, &TGIFTextExtension::Class},
        {0xF9, &TGIFGraphicControlExtension::Class},
        {0xFE, &TGIFCommentExtension::Class},
        {0xFF, &TGIFApplicationExtension::Class},
    };
    std::vector<AppExtensionEntry> appExtensions{
        {Identifier("NETSCAPE2.0"), &TGIFAppExtNSLoop::Class},
        {Identifier("ANIMEXTS1.0"), &TGIFAppExtNSLoop::Class},
    };
};

Registries& TheRegistries() {
    static Registries registries;
    return registries;
}

} // namespace

void RegisterExtension(std::uint8_t label, const TGIFExtensionClass& extensionClass) {
    Registries& r = TheRegistries();
    std::lock_guard guard(r.lock);
    r.extensions.push_back({label, &extensionClass});
}

void UnregisterExtension(std::uint8_t label, const TGIFExtensionClass& extensionClass) {
    Registries& r = TheRegistries();
    std::lock_guard guard(r.lock);
    for (auto it = r.extensions.rbegin(); it != r.extensions.rend(); ++it)
        if (it->label == label && it->extensionClass == &extensionClass) {
            r.extensions.erase(std::next(it).base());
            return;
        }
}

const TGIFExtensionClass* FindExtension(std::uint8_t label) {
    Registries& r = TheRegistries();
    std::lock_guard guard(r.lock);
    for (auto it = r.extensions.rbegin(); it != r.extensions.rend(); ++it)
        if (it->label == label) return it->extensionClass;
    return nullptr;
}

void RegisterAppExtension(const char (&identifier)[12], const TGIFExtensionClass& extensionClass) {
    Registries& r = TheRegistries();
    std::lock_guard guard(r.lock);
    r.appExtensions.push_back({Identifier(identifier), &extensionClass});
}

const TGIFExtensionClass* FindAppExtension(std::span<const std::uint8_t, 11> identifier) {
    Registries& r = TheRegistries();
    std::lock_guard guard(r.lock);
    for (auto it = r.appExtensions.rbegin(); it != r.appExtensions.rend(); ++it)
        if (std::equal(identifier.begin(), identifier.end(), it->identifier.begin()))
            return it->extensionClass;
    return nullptr;
}

} // namespace sorowa
