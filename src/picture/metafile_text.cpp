#include "picture/metafile_text.h"

#include <cerrno>
#include <iconv.h>
#include <map>
#include <memory>
#include <string>

namespace sorowa::metafile {
namespace {

// The code page iconv knows a character set by; nullptr for the sets that map bytes to
// U+0000..U+00FF unchanged (symbol fonts).
const char* CodePage(int charset) {
    switch (charset) {
    case kAnsiCharset:
        return "CP1252";
    case kDefaultCharset:
    case kShiftJisCharset:
        return "CP932";
    case kSymbolCharset:
        return nullptr;
    case kMacCharset:
        return "MACINTOSH";
    case kHangulCharset:
        return "CP949";
    case kJohabCharset:
        return "JOHAB";
    case kGb2312Charset:
        return "CP936";
    case kChineseBig5Charset:
        return "CP950";
    case kGreekCharset:
        return "CP1253";
    case kTurkishCharset:
        return "CP1254";
    case kVietnameseCharset:
        return "CP1258";
    case kHebrewCharset:
        return "CP1255";
    case kArabicCharset:
        return "CP1256";
    case kBalticCharset:
        return "CP1257";
    case kRussianCharset:
        return "CP1251";
    case kThaiCharset:
        return "CP874";
    case kEastEuropeCharset:
        return "CP1250";
    case kOemCharset:
        return "CP437";
    default:
        return "CP1252";
    }
}

bool DoubleByte(int charset) {
    return charset == kDefaultCharset || charset == kShiftJisCharset || charset == kHangulCharset ||
           charset == kJohabCharset || charset == kGb2312Charset || charset == kChineseBig5Charset;
}

bool LeadByte(std::uint8_t b, int charset) {
    if (charset == kDefaultCharset || charset == kShiftJisCharset)
        return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    if (charset == kJohabCharset) return b >= 0x84 && b <= 0xF9 && b != 0xD4;
    return b >= 0x81 && b <= 0xFE;
}

class Converter {
public:
    explicit Converter(const char* codePage)
        : cd_(codePage ? iconv_open("UTF-16LE", codePage) : reinterpret_cast<iconv_t>(-1)) {}
    ~Converter() {
        if (Valid()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // One character's bytes (one or two) to text.
    QString Convert(const std::uint8_t* bytes, std::size_t count) {
        char in[2] = {};
        for (std::size_t i = 0; i < count && i < 2; ++i)
            in[i] = static_cast<char>(bytes[i]);
        char16_t out[4] = {};
        char* inPtr = in;
        std::size_t inLeft = count;
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1) ||
            inLeft != 0)
            return QString(QChar(0xFFFD));
        const auto units = static_cast<qsizetype>((sizeof out - outLeft) / 2);
        return QString::fromUtf16(out, units);
    }

private:
    iconv_t cd_;
};

// Opening a converter loads the code page's tables, which costs more than the text it
// converts; each thread keeps the ones it opened.
Converter& ConverterFor(const char* codePage) {
    thread_local std::map<std::string, std::unique_ptr<Converter>> converters;
    const std::string key = codePage != nullptr ? codePage : "";
    std::unique_ptr<Converter>& converter = converters[key];
    if (!converter) converter = std::make_unique<Converter>(codePage);
    return *converter;
}

} // namespace

std::vector<CharacterBytes> DecodeCharacters(std::span<const std::uint8_t> bytes, int charset) {
    std::vector<CharacterBytes> characters;
    Converter& converter = ConverterFor(CodePage(charset));
    const bool doubleByte = DoubleByte(charset);
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t n = 1;
        if (doubleByte && LeadByte(bytes[i], charset) && i + 1 < bytes.size()) n = 2;
        QString text;
        if (!converter.Valid())
            text = QString(QChar(bytes[i]));
        else
            text = converter.Convert(bytes.data() + i, n);
        characters.push_back({text, static_cast<int>(n)});
        i += n;
    }
    return characters;
}

QString DecodeText(std::span<const std::uint8_t> bytes, int charset) {
    QString text;
    for (const CharacterBytes& c : DecodeCharacters(bytes, charset))
        text += c.text;
    return text;
}

} // namespace sorowa::metafile
