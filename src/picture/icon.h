#pragma once
// The icon picture: keeps the file's bytes at load and makes the icon when it is first
// drawn or measured, from the directory entry that suits the display.

#include "picture/graphic.h"

#include <QImage>
#include <cstdint>
#include <vector>

namespace sorowa {

class TIcon : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    TIcon();

    // Draws the icon unscaled with its top-left corner at rect's top-left corner.
    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override { return bytes_.empty() && !decoded_; }
    // Always the system's standard icon size.
    int Width() const override;
    int Height() const override;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    void LoadFromStream(TStream& stream) override;

    // The icon as drawn (system icon size, premultiplied ARGB32). Makes it on first use;
    // throws EOutOfResources when the directory or the chosen image is damaged.
    const QImage& IconImage();

private:
    void MakeIcon();

    std::vector<std::uint8_t> bytes_;
    QImage icon_;
    bool decoded_ = false;
    bool failed_ = false;
};

} // namespace sorowa
