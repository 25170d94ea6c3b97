#include "bench_photos.h"

#include "jpeg_test_files.h"

#include <map>
#include <tuple>

namespace sorowa::bench {

const Bytes& PhotoJpeg(int width, int height, bool progressive, unsigned seed) {
    static std::map<std::tuple<int, int, bool, unsigned>, Bytes> cache;
    const auto key = std::make_tuple(width, height, progressive, seed);
    auto it = cache.find(key);
    if (it == cache.end()) {
        const QImage photo = test::PhotoLike(width, height, seed);
        it = cache.emplace(key, test::EncodeJpeg(photo, {.progressive = progressive})).first;
    }
    return it->second;
}

const Bytes& CameraPhotoJpeg(int width, int height, bool progressive, unsigned seed) {
    static std::map<std::tuple<int, int, bool, unsigned>, Bytes> cache;
    const auto key = std::make_tuple(width, height, progressive, seed);
    auto it = cache.find(key);
    if (it == cache.end()) {
        const Bytes thumbnail = test::CameraThumbnail(test::PhotoLike(width, height, seed));
        it = cache
                 .emplace(key, test::WithExifThumbnail(PhotoJpeg(width, height, progressive, seed),
                                                       thumbnail, {false, width, height}))
                 .first;
    }
    return it->second;
}

} // namespace sorowa::bench
