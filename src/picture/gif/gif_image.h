#pragma once
// The GIF picture: reads GIF87a and GIF89a files into frames and draws the first frame scaled
// into any rectangle, transparently through its mask.

#include "picture/gif/gif_model.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace sorowa {

namespace gif {
class TAnimationClock;
class TGIFPainter;
class TRenderer;
struct TPainterList;
} // namespace gif

class TGIFImage : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    enum DrawOption : unsigned {
        goAsync = 1u << 0,
        goTransparent = 1u << 1,
        goAnimate = 1u << 2,
        goLoop = 1u << 3,
        goLoopContinously = 1u << 4,
        goValidateCanvas = 1u << 5,
        goDirectDraw = 1u << 6,
        goClearOnLoop = 1u << 7,
        goTile = 1u << 8,
        goDither = 1u << 9,
        goAutoDither = 1u << 10,
    };
    static constexpr unsigned kDefaultDrawOptions =
        goAsync | goTransparent | goAnimate | goLoop | goDither | goAutoDither;

    using WarningCallback = std::function<void(TGIFItem* sender, TGIFSeverity, const QString&)>;

    TGIFImage();
    ~TGIFImage() override;

    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override { return images_.Empty(); }
    int Width() const override { return header_.Width(); }
    int Height() const override { return header_.Height(); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    // The picture palette; "No global or local color table defined" when there is none.
    QList<QRgb> Palette() const override;
    void LoadFromStream(TStream& stream) override;

    TGIFHeader& Header() { return header_; }
    const TGIFHeader& Header() const { return header_; }
    TGIFImageList& Images() { return images_; }
    const TGIFImageList& Images() const { return images_; }

    unsigned DrawOptions() const { return drawOptions_; }
    void SetDrawOptions(unsigned options) { drawOptions_ = options; }
    int AnimationSpeed() const { return animationSpeed_; }
    // Frames are dithered to the colour cube when this holds: with the default options, on
    // displays of 8 or fewer bits per pixel.
    bool DitheringInForce() const;

    // Passes warnings of the reader to the callback; without one they are ignored.
    void SetOnWarning(WarningCallback callback) { onWarning_ = std::move(callback); }
    void Warning(TGIFItem* sender, TGIFSeverity severity, const QString& message);

    // Empties the picture: no frames, no global colour table, a 0 x 0 screen.
    void Clear();

    // Animation (gif_animation.cpp). The speed is in percent of the frames' own delays.
    void SetAnimationSpeed(int speed) { animationSpeed_ = speed; }
    std::optional<QRgb> BackgroundColor() const { return backgroundColor_; }
    void SetBackgroundColor(std::optional<QRgb> color) { backgroundColor_ = color; }
    // The clock the painters time frames with (nullptr: the real one); for tests. The render
    // pool they ask is the context's.
    void SetAnimationClock(gif::TAnimationClock* clock) { clock_ = clock; }
    // The bitmap the painter plays the frames into; null before the first animated draw.
    const QImage& ComposedBitmap() const { return composed_; }
    gif::TGIFPainter* CurrentPainter() const;
    // Painters whose run has not ended yet.
    int RunningPainters() const;
    // Stops the painter of the last animated draw and drops the composed bitmap.
    void StopPainting();
    // Stops every painter of the picture and drops the composed bitmap.
    void StopPaintingAll();

    // The picture palette (see Palette).
    QList<QRgb> PicturePalette() const;
    // Progress of making a frame bitmap.
    void ReportRendering(TProgressStage stage, int percent);

private:
    friend class gif::TGIFPainter;
    void DrawFirstFrame(TCanvas& canvas, const QRect& rect);
    void DrawAnimated(TCanvas& canvas, const QRect& rect);
    // Waits, running the calls handed to the GUI thread, until no painter runs.
    void WaitForPainters(bool currentOnly);

    TGIFHeader header_;
    TGIFImageList images_;
    unsigned drawOptions_ = kDefaultDrawOptions;
    int animationSpeed_ = 100;
    mutable std::optional<QList<QRgb>> cachedPalette_;
    WarningCallback onWarning_;
    std::optional<QRgb> backgroundColor_;
    gif::TAnimationClock* clock_ = nullptr;
    std::shared_ptr<gif::TPainterList> painters_;
    QImage composed_;
    bool composedMade_ = false;
    TStretchCache composedCache_;
    bool drawing_ = false;
    bool drawFailed_ = false; // a failed first draw is reported once, not on every repaint
    // Set while the palette is being worked out, so that a picture without any colour table
    // fails instead of asking itself forever.
    mutable bool paletteQuery_ = false;
};

// Registers the GIF picture for "GIF" files ("GIF Image"); Unregister removes it.
void RegisterGifPicture();
void UnregisterGifPicture();

} // namespace sorowa
