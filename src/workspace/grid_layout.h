#pragma once
// The grid in which thumbnail windows stand: columns W + 8 apart, rows H + 31 apart, a new
// row whenever the next left edge would pass the wrap limit L = window width - W - 41.

#include <QPoint>
#include <QSize>

namespace sorowa {

int WrapLimit(int outerWidth, QSize thumbnail);

class TGridPlacer {
public:
    TGridPlacer(QSize thumbnail, int wrapLimit) : size_(thumbnail), limit_(wrapLimit) {}
    // Position of the next window in sequence order.
    QPoint Next();

private:
    QSize size_;
    int limit_;
    int column_ = 0;
    int row_ = 0;
};

} // namespace sorowa
