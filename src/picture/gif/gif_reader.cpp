#include "picture/gif/gif_reader.h"

#include "picture/gif/gif_image.h"
#include "picture/gif/gif_lzw.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <new>

namespace sorowa {
namespace {

constexpr int kExtensionIntroducer = 0x21;
constexpr int kImageSeparator = 0x2C;
constexpr int kTrailer = 0x3B;
constexpr int kApplicationLabel = 0xFF;

bool StartsWithGif(const std::array<std::uint8_t, 6>& bytes) {
    return std::toupper(bytes[0]) == 'G' && std::toupper(bytes[1]) == 'I' &&
           std::toupper(bytes[2]) == 'F';
}

// 2 to the power of (size bits + 1) entries of 3 bytes.
std::size_t ColorTableBytes(std::uint8_t packed) {
    return (std::size_t{2} << (packed & 7)) * 3;
}

void ReadColorTable(TGIFReader& reader, TGIFColorMap& map, std::uint8_t packed) {
    std::array<std::uint8_t, 256 * 3> rgb;
    const std::size_t bytes = ColorTableBytes(packed);
    reader.ReadFixed(std::span(rgb).first(bytes));
    map.Assign(std::span(rgb).first(bytes));
}

QList<QByteArray> ToLines(const std::vector<std::vector<std::uint8_t>>& blocks) {
    QList<QByteArray> lines;
    for (const auto& block : blocks)
        lines.append(QByteArray(reinterpret_cast<const char*>(block.data()),
                                static_cast<qsizetype>(block.size())));
    return lines;
}

} // namespace

// --- byte access ---

TGIFReader::TGIFReader(std::span<const std::uint8_t> data, TGIFImage* image, WarningRoutine warning,
                       std::uint64_t pixelBudget)
    : data_(data), image_(image),
      budget_(image != nullptr ? image->Context().Budget()
                               : platform::TDecodedBytesBudget::Process()),
      warning_(std::move(warning)), pixelBudget_(pixelBudget) {}

int TGIFReader::ReadByte() {
    return AtEnd() ? -1 : data_[pos_++];
}

void TGIFReader::Back(std::size_t count) {
    pos_ -= std::min(count, pos_);
}

void TGIFReader::ReadFixed(std::span<std::uint8_t> out) {
    if (out.size() > data_.size() - pos_) Error(gifmsg::kPrematureEnd);
    if (out.empty()) return;
    std::memcpy(out.data(), data_.data() + pos_, out.size());
    pos_ += out.size();
}

std::size_t TGIFReader::ReadUpTo(std::span<std::uint8_t> out) {
    const std::size_t n = std::min(out.size(), data_.size() - pos_);
    if (n == 0) return 0;
    std::memcpy(out.data(), data_.data() + pos_, n);
    pos_ += n;
    return n;
}

void TGIFReader::Skip(std::size_t count) {
    pos_ += std::min(count, data_.size() - pos_);
}

std::vector<std::vector<std::uint8_t>> TGIFReader::ReadSubBlocks() {
    std::vector<std::vector<std::uint8_t>> blocks;
    for (;;) {
        const int length = ReadByte();
        if (length <= 0) break;
        const std::size_t take = std::min<std::size_t>(length, data_.size() - pos_);
        blocks.emplace_back(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                            data_.begin() + static_cast<std::ptrdiff_t>(pos_ + take));
        pos_ += take;
        if (take < static_cast<std::size_t>(length)) break;
    }
    return blocks;
}

void TGIFReader::Warning(TGIFItem* sender, const char* text) {
    if (warning_) warning_(sender, TGIFSeverity::Warning, QString::fromLatin1(text));
}

void TGIFReader::Error(const char* text) {
    throw GIFException(QString::fromLatin1(text));
}

// --- header, blocks, trailer ---

void TGIFReader::ReadHeader(TGIFHeader& header) {
    const std::size_t start = pos_;
    std::array<std::uint8_t, 6> signature;
    ReadFixed(signature);
    if (!StartsWithGif(signature)) {
        // Some files carry 4 bytes of other data before the header
        // (tests/data/gif/junk-before-header.gif).
        pos_ = start;
        Skip(4);
        ReadFixed(signature);
        if (!StartsWithGif(signature)) Error(gifmsg::kInvalidSignature);
    }
    ReadFixed(header.descriptor);
    if ((header.Packed() & 0x80) != 0)
        ReadColorTable(*this, header.colorMap, header.Packed());
    else
        header.colorMap.Clear();
}

void TGIFReader::ReadBlocks(TGIFImageList& frames, const TGIFHeader& header,
                            const FrameRoutine& frameRead) {
    const auto skipZeros = [this] {
        while (!AtEnd() && data_[pos_] == 0)
            ++pos_;
    };
    skipZeros();
    if (AtEnd()) return;
    int byte = ReadByte();
    while (byte != kTrailer) {
        Back(1);
        if (byte != kExtensionIntroducer && byte != kImageSeparator) {
            Warning(nullptr, gifmsg::kUnknownBlock);
            return;
        }
        auto frame = std::make_unique<TGIFSubImage>(image_);
        ReadFrame(*frame, header);
        frames.Add(std::move(frame));
        if (frameRead) frameRead(pos_, data_.size());
        skipZeros();
        if (AtEnd()) return;
        byte = ReadByte();
    }
    Back(1);
}

void TGIFReader::ReadTrailer() {
    const int byte = ReadByte();
    if (byte >= 0 && byte != kTrailer) Warning(nullptr, gifmsg::kInvalidTrailer);
}

// --- frames ---

void TGIFReader::ReadFrame(TGIFSubImage& frame, const TGIFHeader& header) {
    ReadExtensions(frame);
    const int next = ReadByte();
    if (next >= 0) Back(1);
    // Extensions after the last image make a frame of their own, without an image
    // (tests/data/gif/comment-after-image.gif).
    if (next < 0 || next == kTrailer || next == 0) return;
    ReadFixed(frame.descriptor);
    if (frame.Width() == 0 || frame.Height() == 0) {
        // tests/data/gif/zero-width-frame.gif
        frame.SetWidth(header.Width());
        frame.SetHeight(header.Height());
        Warning(&frame, gifmsg::kExceedsScreen);
    }
    if ((frame.descriptor[9] & 0x80) != 0)
        ReadColorTable(*this, frame.colorMap, frame.descriptor[9]);
    ReadImageData(frame);
}

void TGIFReader::ReadExtensions(TGIFSubImage& frame) {
    int byte = ReadByte();
    if (byte < 0) return;
    while (byte != kImageSeparator && byte != kTrailer) {
        if (byte != kExtensionIntroducer) {
            Warning(&frame, gifmsg::kInvalidIntroducer);
            return;
        }
        Back(1);
        std::unique_ptr<TGIFExtension> extension = ExtensionClassAt().create(frame);
        extension->Read(*this);
        TGIFExtension& added = frame.extensions.Add(std::move(extension));
        if (added.ClassType().label == TGIFGraphicControlExtension::Class.label &&
            frame.graphicControl == nullptr)
            frame.graphicControl = dynamic_cast<TGIFGraphicControlExtension*>(&added);
        byte = ReadByte();
        if (byte < 0) return;
    }
    Back(1);
}

// The class for the extension at the current position, which is left unchanged.
const TGIFExtensionClass& TGIFReader::ExtensionClassAt() {
    const std::size_t start = pos_;
    Skip(1);
    const int label = ReadByte();
    if (label < 0) Error(gifmsg::kPrematureEnd);
    const TGIFExtensionClass* found = FindExtension(static_cast<std::uint8_t>(label));
    if (found == nullptr)
        Error(gifmsg::kUnknownExtension); // tests/data/gif/unknown-extension-label.gif
    if (label == kApplicationLabel) {
        const int size = ReadByte();
        const std::size_t left = data_.size() - pos_;
        if (size == 10 && left >= 10) {
            found = &TGIFUnknownAppExtension::Class;
        } else if (size == 11 && left >= 11) {
            const std::span<const std::uint8_t, 11> identifier(data_.data() + pos_, 11);
            const TGIFExtensionClass* app = FindAppExtension(identifier);
            found = app != nullptr ? app : &TGIFUnknownAppExtension::Class;
        }
    }
    pos_ = start;
    return *found;
}

void TGIFReader::ReadImageData(TGIFSubImage& frame) {
    const auto count =
        static_cast<std::uint64_t>(frame.Width()) * static_cast<std::uint64_t>(frame.Height());
    if (count > pixelBudget_) Error(gifmsg::kOutOfMemory);
    pixelBudget_ -= count;
    // What the header claims is weighed against the data present before anything is
    // allocated: only a little may lie beyond the reach of the codes that follow.
    const int codeSize = AtEnd() ? -1 : data_[pos_];
    const std::uint64_t reachable = codeSize < 0 || codeSize > gif::kMaxMinimumCodeSize
                                        ? 0
                                        : gif::LzwPixelBound(data_.subspan(pos_ + 1), codeSize);
    const std::uint64_t unbacked = count > reachable ? count - reachable : 0;
    if (unbacked > unbackedBudget_) Error(gifmsg::kOutOfMemory);
    unbackedBudget_ -= unbacked;
    platform::DecodedBytesRequest bytes = budget_.Reserve(count);
    if (!bytes.ok) Error(gifmsg::kOutOfMemory);
    frame.pixelsLease = std::move(bytes.lease);
    const std::uint8_t fill = frame.transparent && frame.graphicControl != nullptr
                                  ? frame.graphicControl->TransparentColorIndex()
                                  : 0;
    try {
        // Left uninitialised: the decoder writes every pixel, decoded or filled.
        frame.pixels.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        Error(gifmsg::kOutOfMemory);
    }
    frame.hasImage = true;
    if (codeSize < 0) {
        std::fill(frame.pixels.begin(), frame.pixels.end(), fill);
        return;
    }
    Skip(1);
    // Wider literals than a byte cannot be stored (tests/data/gif/code-size-9.gif).
    if (codeSize > gif::kMaxMinimumCodeSize) Error(gifmsg::kInvalidData);
    const gif::LzwOutcome outcome = gif::DecodeLzw(
        data_.subspan(pos_), codeSize, frame.pixels, static_cast<std::size_t>(frame.Width()),
        static_cast<std::size_t>(frame.Height()), frame.Interlaced(), fill);
    // Every sub-block up to the terminator is consumed, whether or not an end code came right
    // after the last pixel; otherwise trailing codes would be taken for the next block and
    // every later frame lost (tests/data/gif/extra-codes-after-last-pixel.gif).
    pos_ += outcome.consumed;
    if (outcome.prematureEnd) Warning(&frame, gifmsg::kPrematureEnd);
    if (outcome.bitBufferUnderrun) Warning(&frame, gifmsg::kBitBufferUnderrun);
}

// --- extensions ---

void TGIFExtension::Read(TGIFReader& reader) {
    std::array<std::uint8_t, 2> head;
    reader.ReadFixed(head);
    if (head[0] != kExtensionIntroducer) TGIFReader::Error(gifmsg::kInvalidIntroducer);
    if (head[1] != Label()) TGIFReader::Error(gifmsg::kExtensionMismatch);
    ReadBody(reader);
}

void TGIFGraphicControlExtension::ReadBody(TGIFReader& reader) {
    if (reader.ReadUpTo(block) < block.size()) {
        reader.Warning(&Frame(), gifmsg::kPrematureEnd);
        return;
    }
    if (HasTransparentColor()) Frame().transparent = true;
}

void TGIFTextExtension::ReadBody(TGIFReader& reader) {
    reader.ReadFixed(descriptor);
    text = ToLines(reader.ReadSubBlocks());
}

void TGIFCommentExtension::ReadBody(TGIFReader& reader) {
    comment = ToLines(reader.ReadSubBlocks());
}

void TGIFApplicationExtension::ReadBody(TGIFReader& reader) {
    const int size = reader.ReadByte();
    if (size < 0) TGIFReader::Error(gifmsg::kPrematureEnd);
    if (size < 10) TGIFReader::Error(gifmsg::kAppExtSize);
    identifier.fill(0);
    reader.ReadFixed(identifier);
    if (size == 10)
        reader.Back(1); // the eleventh byte was the first sub-block's length
    else
        reader.Skip(static_cast<std::size_t>(size - 11));
    ReadData(reader);
}

void TGIFApplicationExtension::ReadData(TGIFReader& reader) {
    for (auto& block : reader.ReadSubBlocks())
        blocks.push_back(TGIFBlock{std::move(block)});
}

void TGIFAppExtNSLoop::ReadData(TGIFReader& reader) {
    // Exactly one sub-block: length 3, the byte 1, the loop count; then the terminator
    // (tests/data/gif/bad-netscape-block.gif).
    std::array<std::uint8_t, 5> block{};
    if (reader.ReadUpTo(block) < block.size() || block[0] != 3 || block[1] != 1 || block[4] != 0)
        TGIFReader::Error(gifmsg::kInvalidData);
    loops = block[2] | block[3] << 8;
}

} // namespace sorowa
