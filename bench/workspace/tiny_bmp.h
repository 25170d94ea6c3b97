#pragma once
// The picture the workspace benchmarks fill their folders with: the cheapest file to load, so
// that what they measure is the windows, not decoding.

#include <QByteArray>

namespace sorowa::bench {

// 2 x 2, 24 bits per pixel.
inline QByteArray TinyBmp() {
    static const unsigned char bytes[] = {
        'B', 'M', 70, 0, 0,   0, 0, 0, 0, 0, 54,  0,   0,   0,   40,  0, 0,  0,
        2,   0,   0,  0, 2,   0, 0, 0, 1, 0, 24,  0,   0,   0,   0,   0, 16, 0,
        0,   0,   0,  0, 0,   0, 0, 0, 0, 0, 0,   0,   0,   0,   0,   0, 0,  0,
        255, 0,   0,  0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 0, 0,  0};
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

} // namespace sorowa::bench
