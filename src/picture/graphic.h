#pragma once
// The abstract picture: something loaded from a stream that draws itself scaled into any
// rectangle of a canvas.

#include "picture/picture_context.h"
#include "platform/errors.h"

#include <QColor>
#include <QList>
#include <QRect>
#include <QRgb>
#include <QString>
#include <functional>
#include <memory>

class QPainter;

namespace sorowa {

class TStream;
class TGraphic;

// Pictures that cannot be decoded, and unknown extensions.
class EInvalidGraphic : public Exception {
public:
    using Exception::Exception;
};

// An operation a picture does not allow (changing a JPEG's size, say).
class EInvalidGraphicOperation : public Exception {
public:
    using Exception::Exception;
};

// A drawing surface: a painter, the colour depth of what it paints on and the colour under
// what is drawn (what a picture's transparent pixels show where the painter cannot be read
// back, as on a window).
class TCanvas {
public:
    // bitsPerPixel 0 takes the screen's depth; an invalid background takes the palette's
    // window colour.
    explicit TCanvas(QPainter& painter, int bitsPerPixel = 0, QColor background = {});
    QPainter& Painter() const { return painter_; }
    int BitsPerPixel() const { return bitsPerPixel_; }
    QColor Background() const;

private:
    QPainter& painter_;
    int bitsPerPixel_;
    QColor background_;
};

// A picture class as the format registry knows it: a name, its base class and a way to
// construct an instance without arguments.
struct TGraphicClass {
    const char* name;
    const TGraphicClass* parent;
    std::unique_ptr<TGraphic> (*create)();

    bool InheritsFrom(const TGraphicClass& other) const;
};

enum class TProgressStage { Starting, Running, Ending };

struct TProgressReport {
    TProgressStage stage = TProgressStage::Starting;
    int percent = 0;
    bool redrawNow = false;
    QRect rect;
    QString message;
};

class TGraphic {
public:
    using ChangeCallback = std::function<void(TGraphic&)>;
    using ProgressCallback = std::function<void(TGraphic&, const TProgressReport&)>;

    TGraphic() = default;
    virtual ~TGraphic() = default;
    TGraphic(const TGraphic&) = delete;
    TGraphic& operator=(const TGraphic&) = delete;

    virtual const TGraphicClass& ClassType() const = 0;

    // Sets the modified flag and calls the change callback.
    virtual void NotifyChange();
    virtual void Draw(TCanvas& canvas, const QRect& rect) = 0;
    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetWidth(int width) = 0;
    virtual void SetHeight(int height) = 0;
    // The picture's colour palette; empty when it has none.
    virtual QList<QRgb> Palette() const { return {}; }
    virtual bool Transparent() const { return transparent_; }
    virtual void SetTransparent(bool value);

    // What the program showing the picture gives it (its display, decoded-bytes budget,
    // pools); set before the picture loads. A picture given none is drawn for the screen,
    // takes from the process's budget and decodes in its draws.
    void SetContext(const TPictureContext& context) { context_ = context; }
    const TPictureContext& Context() const { return context_; }

    // Opens path for reading and loads the picture from it.
    virtual void LoadFile(const QString& path);
    // Reads the picture from the stream's position to its end.
    virtual void LoadFromStream(TStream& stream) = 0;

    void SetOnChange(ChangeCallback callback) { onChange_ = std::move(callback); }
    void SetOnProgress(ProgressCallback callback) { onProgress_ = std::move(callback); }

    bool Modified() const { return modified_; }
    void SetModified(bool value) { modified_ = value; }
    bool PaletteModified() const { return paletteModified_; }
    void SetPaletteModified(bool value) { paletteModified_ = value; }

protected:
    void Progress(const TProgressReport& report);

private:
    TPictureContext context_;
    ChangeCallback onChange_;
    ProgressCallback onProgress_;
    bool transparent_ = false;
    bool modified_ = false;
    bool paletteModified_ = false;
};

} // namespace sorowa
