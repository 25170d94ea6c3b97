#pragma once
// What the JPEG picture's failures say: the decoder's status values, a file that cannot be
// read again and a progress handler's stop become the picture's errors here and nowhere else.
// The decode itself never throws; the picture raises what these functions return.

#include "picture/graphic.h"
#include "picture/jpeg/jpeg_decoder.h"
#include "platform/file_identity.h"

#include <cstdint>
#include <exception>
#include <optional>

namespace sorowa {

// A JPEG that cannot be decoded. Code() is libjpeg's message code, 0 for the program's own
// refusals (too many scans, too many pixels) and for a file that cannot be read again.
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(int code);
    explicit EJPEG(QString message, int code = 0)
        : EInvalidGraphic(std::move(message)), code_(code) {}
    int Code() const noexcept { return code_; }

private:
    int code_;
};

namespace jpeg {

// A first draw is refused when its output would have more pixels than this: 40 million
// pixels (120 MB at 24 bits) decode a 40-megapixel photo at full size, and far larger ones at
// the reduced scales that thumbnails use. Later, larger draws stop at the largest scale
// within it.
inline constexpr std::uint64_t kMaxOutputPixels = 40'000'000;
// libjpeg's working memory (a progressive file's coefficients live there: 144 MB for a
// 24-megapixel photo without chroma subsampling).
inline constexpr long kMaxLibraryMemory = 512L * 1024 * 1024;
// Real photos have about ten scans; a few hundred bytes per scan can make thousands.
inline constexpr int kMaxScans = 100;

// The limits every decode and header read of the picture runs under.
DecodeLimits PictureLimits();

// A header that libjpeg refused.
EJPEG HeaderError(const HeaderResult& header);
// The error of a decode; nullopt for success and for a stop the progress handler asked for
// (whose own error, if any, is the handler's: see RethrowHandlerError).
std::optional<EJPEG> DecodeError(const DecodeResult& result);
// Why the loaded bytes could not be had again from their file, loaded as loadedPath.
EJPEG RereadError(const platform::RereadResult& reread, const QString& loadedPath);
// Raises what a progress handler raised, except the silent abort, which only stops.
void RethrowHandlerError(const std::exception_ptr& handlerError);

} // namespace jpeg
} // namespace sorowa
