#pragma once
// When the camera's small copy of a photo (stored in its Exif segment) may stand in for the
// photo while the photo decodes. At load: only a colour copy smaller than the photo, not
// larger than a thumbnail, whose Exif record (where it gives one) has the photo's own pixel
// size. Before it is shown: only while the top of the photo still looks like the top of the
// copy, since an edited photo often keeps its camera's old copy. It stands in only until the
// photo's own decode arrives.

#include "picture/jpeg/jpeg_decoder.h"
#include "picture/jpeg/jpeg_source.h"

#include <QImage>
#include <cstdint>
#include <optional>
#include <vector>

namespace sorowa::jpeg {

// The embedded thumbnail of the loaded bytes when it may stand in for the photo whose header
// is photo; nullopt otherwise.
std::optional<TJPEGThumbnail> StandInThumbnail(const std::vector<std::uint8_t>& bytes,
                                               const JpegHeader& photo);

// The camera's copy as it stands in for the photo (the photo's part of it, between bars, or
// all of it, stretched: whichever is closer), upright, when the top of the photo confirms
// that it still shows the photo; nullopt otherwise, and when the file cannot be read again.
// Only the copy and the photo's first rows are read.
std::optional<QImage> StandInFor(const TJPEGData& data);

} // namespace sorowa::jpeg
