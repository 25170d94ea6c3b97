#pragma once
// The drawing state that metafile records act on (mapping, objects, colours, current
// position, clipping, paths), painting into a QPainter. The Windows and the enhanced
// metafile players both drive it; every coordinate is turned into target pixels here, so
// pens, patterns and text are laid out in pixels as the records' meaning asks.

#include "picture/gdi.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QTransform>
#include <cstdint>
#include <span>
#include <vector>

class QPainter;

namespace sorowa::metafile {

struct LogPen {
    std::uint32_t style = kPsSolid; // the kPs* dash style, end cap and join bits
    double width = 0;               // logical units; 0 is one pixel
    QColor color = Qt::black;
    std::vector<double> dashes; // user style: dash and gap lengths in logical units
};

struct LogBrush {
    std::uint32_t style = kBsSolid; // solid, null, hatched, or a pattern
    QColor color = Qt::white;
    std::uint32_t hatch = kHsHorizontal;
    QImage pattern; // for pattern brushes
    // A monochrome pattern: its pixels 0 and 1 are drawn in the text and the background
    // colour current when the brush is used, not when it was made.
    bool monochrome = false;
};

struct LogFont {
    double height = 0; // logical units; negative: character height, positive: cell height
    double width = 0;
    int escapement = 0; // tenths of a degree
    int weight = kFwNormal;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    int charset = kDefaultCharset;
    QString face;
};

struct GdiObject {
    enum class Kind { None, Pen, Brush, Font, Palette, Region };
    Kind kind = Kind::None;
    LogPen pen;
    LogBrush brush;
    LogFont font;
    QPainterPath region; // logical units for Windows metafiles, device units otherwise
};

// Most objects a metafile's table may hold; a header asking for more gets this many.
inline constexpr std::size_t kMaxObjects = 65535;
// Most nested saves of the drawing state.
inline constexpr std::size_t kMaxSavedStates = 1024;
// Most points one figure may have once arcs and curves are laid out.
inline constexpr std::size_t kMaxPathElements = 1 << 20;

// The signed area scale of a transform's linear part; negative when it mirrors.
inline double Determinant(const QTransform& t) {
    return t.m11() * t.m22() - t.m12() * t.m21();
}

inline QPainterPath RectPath(const QRectF& r) {
    QPainterPath path;
    path.addRect(r.normalized());
    return path;
}

class MetaDC {
public:
    // Draws into target (pixels of the painter). deviceToTarget maps the metafile's device
    // units (the reference device's pixels) onto the target.
    MetaDC(QPainter& painter, const QRectF& target, const QTransform& deviceToTarget,
           std::size_t objectSlots, double devicePixelsPerMmX, double devicePixelsPerMmY);
    ~MetaDC();
    MetaDC(const MetaDC&) = delete;
    MetaDC& operator=(const MetaDC&) = delete;

    // Windows metafiles: the viewport is the target and the records cannot move it.
    void LockViewport(QPointF origin, QPointF extent);

    // Mapping.
    void SetMapMode(int mode);
    int MapModeValue() const { return state_.mapMode; }
    void SetWindowOrg(QPointF p);
    void SetWindowExt(QPointF e);
    void SetViewportOrg(QPointF p);
    void SetViewportExt(QPointF e);
    void OffsetWindowOrg(QPointF d);
    void OffsetViewportOrg(QPointF d);
    void ScaleWindowExt(double xNum, double xDen, double yNum, double yDen);
    void ScaleViewportExt(double xNum, double xDen, double yNum, double yDen);
    void SetWorldTransform(const QTransform& t);
    void ModifyWorldTransform(const QTransform& t, int mode);

    // Attributes.
    void SetTextColor(QColor c) { state_.textColor = c; }
    void SetBkColor(QColor c) { state_.bkColor = c; }
    void SetBkMode(int mode) { state_.bkMode = mode; }
    void SetTextAlign(std::uint32_t align) { state_.textAlign = align; }
    void SetPolyFillMode(int mode) { state_.polyFillMode = mode; }
    void SetArcDirection(int direction) { state_.arcDirection = direction; }
    void SetRop2(int rop) { state_.rop2 = rop; }
    void SetTextCharExtra(double extra) { state_.charExtra = extra; }
    void SetStretchMode(int mode) { state_.stretchMode = mode; }

    // Object table.
    std::size_t ObjectSlots() const { return objects_.size(); }
    // Windows metafiles: the lowest free slot takes the object; false when the table is full.
    bool AddObject(GdiObject object);
    // Enhanced metafiles: the record names the slot.
    void PutObject(std::size_t index, GdiObject object);
    void SelectObject(std::size_t index);
    void SelectStockObject(std::uint32_t stock);
    void DeleteObject(std::size_t index);
    const GdiObject* Object(std::size_t index) const;

    // State stack.
    void SaveDC();
    void RestoreDC(int which);

    // Drawing, in logical units.
    void MoveTo(QPointF p);
    void LineTo(QPointF p);
    QPointF CurrentPosition() const { return state_.position; }
    void Polyline(const std::vector<QPointF>& points);
    void PolylineTo(const std::vector<QPointF>& points);
    void PolyBezier(const std::vector<QPointF>& points);
    void PolyBezierTo(const std::vector<QPointF>& points);
    void Polygon(const std::vector<QPointF>& points);
    void PolyPolygon(const std::vector<std::vector<QPointF>>& polygons);
    void PolyPolyline(const std::vector<std::vector<QPointF>>& lines);
    void Rectangle(const QRectF& r);
    void RoundRect(const QRectF& r, QSizeF corner);
    void Ellipse(const QRectF& r);
    enum class ArcKind { Arc, ArcTo, Chord, Pie };
    void ArcShape(ArcKind kind, const QRectF& box, QPointF start, QPointF end);
    void AngleArc(QPointF center, double radius, double startDegrees, double sweepDegrees);
    void SetPixel(QPointF p, QColor c);
    void TextOut(QPointF p, const QString& text, std::uint32_t options, const QRectF* rect,
                 const std::vector<double>& advances);
    // Blits: image drawn from the source rectangle (image pixels) to the destination
    // (logical units); a null image blits the brush (or black, white) with the operation.
    void Blit(const QRectF& dest, const QImage& image, const QRectF& source, std::uint32_t rop);
    // Alpha-blended bitmap with constant alpha and per-pixel alpha when asked.
    void AlphaBlit(const QRectF& dest, const QImage& image, const QRectF& source, int constantAlpha,
                   bool perPixelAlpha);

    // Regions (as paths in logical units for Windows metafiles; deviceUnits for enhanced).
    void FillRegion(const QPainterPath& region, const LogBrush& brush, bool deviceUnits);
    void FrameRegion(const QPainterPath& region, const LogBrush& brush, bool deviceUnits);
    void InvertRegion(const QPainterPath& region, bool deviceUnits);
    // Filled with the selected brush.
    void PaintRegion(const QPainterPath& region, bool deviceUnits);

    // Clipping.
    void IntersectClipRect(const QRectF& r);
    void ExcludeClipRect(const QRectF& r);
    void OffsetClip(QPointF d);
    // A null region with Copy removes the clip.
    void SelectClipRegion(const QPainterPath* region, ClipMode mode, bool deviceUnits);

    // Paths.
    void BeginPath();
    void EndPath();
    void AbortPath();
    void CloseFigure();
    void FillPath();
    void StrokePath();
    void StrokeAndFillPath();
    void SelectClipPath(ClipMode mode);

    // The logical-to-target transform.
    QTransform LogicalToTarget() const;

private:
    struct State {
        int mapMode = kMmText;
        QPointF windowOrg{0, 0};
        QPointF windowExt{1, 1};
        QPointF viewportOrg{0, 0};
        QPointF viewportExt{1, 1};
        QTransform world;
        LogPen pen;
        LogBrush brush;
        LogFont font;
        QColor textColor = Qt::black;
        QColor bkColor = Qt::white;
        int bkMode = kOpaque;
        std::uint32_t textAlign = kTaTopLeft;
        int polyFillMode = kAlternate;
        int arcDirection = kCounterClockwise;
        int rop2 = kR2CopyPen;
        double charExtra = 0;
        int stretchMode = kBlackOnWhite;
        QPointF position{0, 0};
        bool hasClip = false;
        QPainterPath clip; // target pixels
    };

    void Refresh();
    void ApplyClip();
    void DrawShape(const QPainterPath& logicalPath, bool fill, bool stroke);
    void DrawTargetPath(const QPainterPath& targetPath, bool fill, bool stroke);
    void AddToPath(const QPainterPath& logicalPath);
    // Adds a piece that starts at the current position to the current figure of the path.
    void ContinueFigure(const QPainterPath& logicalPiece);
    QPen TargetPen() const;
    QBrush TargetBrush(const LogBrush& brush) const;
    double TargetScale() const;
    QPainterPath TargetRegion(const QPainterPath& region, bool deviceUnits) const;
    void CombineClip(const QPainterPath& target, ClipMode mode);
    QPainterPath ArcPath(ArcKind kind, const QRectF& box, QPointF start, QPointF end,
                         QPointF* arcStart, QPointF* arcEnd) const;
    Qt::FillRule FillRule() const;
    QPointF DeviceUnitsPerLogical() const;

    QPainter& painter_;
    QRectF target_;
    QTransform deviceToTarget_;
    double pixelsPerMmX_;
    double pixelsPerMmY_;
    bool viewportLocked_ = false;
    State state_;
    std::vector<State> saved_;
    std::vector<GdiObject> objects_;
    QTransform logicalToTarget_;
    bool inPath_ = false;
    QPainterPath path_;     // target pixels
    bool pathOpen_ = false; // the current figure has a starting point
};

} // namespace sorowa::metafile
