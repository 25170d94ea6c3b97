#include "workspace/grid_layout.h"

namespace sorowa {

int WrapLimit(int outerWidth, QSize thumbnail) {
    return outerWidth - thumbnail.width() - 41;
}

QPoint TGridPlacer::Next() {
    int x = (size_.width() + 8) * column_;
    if (x > limit_) {
        column_ = 0;
        ++row_;
        x = 0;
    }
    const int y = (size_.height() + 31) * row_;
    ++column_;
    return {x, y};
}

} // namespace sorowa
