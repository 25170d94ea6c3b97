#include "picture/metafile_dc.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace sorowa::metafile {
namespace {

double Degrees(double radians) {
    return radians * 180.0 / M_PI;
}

} // namespace

MetaDC::MetaDC(QPainter& painter, const QRectF& target, const QTransform& deviceToTarget,
               std::size_t objectSlots, double devicePixelsPerMmX, double devicePixelsPerMmY)
    : painter_(painter), target_(target), deviceToTarget_(deviceToTarget),
      pixelsPerMmX_(devicePixelsPerMmX), pixelsPerMmY_(devicePixelsPerMmY),
      objects_(std::min(objectSlots, kMaxObjects)) {
    painter_.save();
    painter_.resetTransform();
    painter_.setRenderHint(QPainter::Antialiasing, false);
    Refresh();
    ApplyClip();
}

MetaDC::~MetaDC() {
    painter_.restore();
}

void MetaDC::LockViewport(QPointF origin, QPointF extent) {
    state_.viewportOrg = origin;
    state_.viewportExt = extent;
    state_.mapMode = kMmAnisotropic;
    viewportLocked_ = true;
    Refresh();
}

// ---------------------------------------------------------------- mapping

QPointF MetaDC::DeviceUnitsPerLogical() const {
    const auto metric = [&](double mm) { return QPointF(pixelsPerMmX_ * mm, -pixelsPerMmY_ * mm); };
    switch (state_.mapMode) {
    case kMmLoMetric:
        return metric(0.1);
    case kMmHiMetric:
        return metric(0.01);
    case kMmLoEnglish:
        return metric(0.254);
    case kMmHiEnglish:
        return metric(0.0254);
    case kMmTwips:
        return metric(25.4 / 1440);
    case kMmIsotropic:
    case kMmAnisotropic: {
        const QPointF w = state_.windowExt;
        const QPointF v = state_.viewportExt;
        double sx = w.x() != 0 ? v.x() / w.x() : 1;
        double sy = w.y() != 0 ? v.y() / w.y() : 1;
        if (state_.mapMode == kMmIsotropic) {
            const double s = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(s, sx);
            sy = std::copysign(s, sy);
        }
        return {sx, sy};
    }
    default:
        return {1, 1};
    }
}

void MetaDC::Refresh() {
    const QPointF s = DeviceUnitsPerLogical();
    const QTransform page(s.x(), 0, 0, s.y(), state_.viewportOrg.x() - state_.windowOrg.x() * s.x(),
                          state_.viewportOrg.y() - state_.windowOrg.y() * s.y());
    const QTransform t = state_.world * page * deviceToTarget_;
    // A mapping that overflows keeps the last one that did not.
    for (const double v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!std::isfinite(v)) return;
    logicalToTarget_ = t;
}

QTransform MetaDC::LogicalToTarget() const {
    return logicalToTarget_;
}

void MetaDC::SetMapMode(int mode) {
    if (mode < kMmText || mode > kMmAnisotropic) return;
    // A Windows metafile plays with its window fitted to the target: only the two
    // scalable modes can keep it there.
    if (viewportLocked_ && mode != kMmIsotropic && mode != kMmAnisotropic) return;
    state_.mapMode = mode;
    Refresh();
}

void MetaDC::SetWindowOrg(QPointF p) {
    state_.windowOrg = p;
    Refresh();
}

void MetaDC::SetWindowExt(QPointF e) {
    if (e.x() == 0 || e.y() == 0) return;
    state_.windowExt = e;
    Refresh();
}

void MetaDC::SetViewportOrg(QPointF p) {
    if (viewportLocked_) return;
    state_.viewportOrg = p;
    Refresh();
}

void MetaDC::SetViewportExt(QPointF e) {
    if (viewportLocked_ || e.x() == 0 || e.y() == 0) return;
    state_.viewportExt = e;
    Refresh();
}

void MetaDC::OffsetWindowOrg(QPointF d) {
    SetWindowOrg(state_.windowOrg + d);
}

void MetaDC::OffsetViewportOrg(QPointF d) {
    SetViewportOrg(state_.viewportOrg + d);
}

void MetaDC::ScaleWindowExt(double xNum, double xDen, double yNum, double yDen) {
    if (xDen == 0 || yDen == 0) return;
    SetWindowExt({state_.windowExt.x() * xNum / xDen, state_.windowExt.y() * yNum / yDen});
}

void MetaDC::ScaleViewportExt(double xNum, double xDen, double yNum, double yDen) {
    if (xDen == 0 || yDen == 0) return;
    SetViewportExt({state_.viewportExt.x() * xNum / xDen, state_.viewportExt.y() * yNum / yDen});
}

void MetaDC::SetWorldTransform(const QTransform& t) {
    if (!std::isfinite(Determinant(t)) || Determinant(t) == 0 || !std::isfinite(t.dx()) ||
        !std::isfinite(t.dy()))
        return;
    state_.world = t;
    Refresh();
}

void MetaDC::ModifyWorldTransform(const QTransform& t, int mode) {
    switch (mode) {
    case kMwtIdentity:
        state_.world = QTransform();
        break;
    case kMwtLeftMultiply:
        SetWorldTransform(t * state_.world);
        return;
    case kMwtRightMultiply:
        SetWorldTransform(state_.world * t);
        return;
    case kMwtSet:
        SetWorldTransform(t);
        return;
    default:
        return;
    }
    Refresh();
}

// ---------------------------------------------------------------- objects

bool MetaDC::AddObject(GdiObject object) {
    for (GdiObject& slot : objects_) {
        if (slot.kind == GdiObject::Kind::None) {
            slot = std::move(object);
            return true;
        }
    }
    return false;
}

void MetaDC::PutObject(std::size_t index, GdiObject object) {
    if (index < objects_.size()) objects_[index] = std::move(object);
}

const GdiObject* MetaDC::Object(std::size_t index) const {
    if (index >= objects_.size() || objects_[index].kind == GdiObject::Kind::None) return nullptr;
    return &objects_[index];
}

void MetaDC::SelectObject(std::size_t index) {
    const GdiObject* object = Object(index);
    if (object == nullptr) return;
    switch (object->kind) {
    case GdiObject::Kind::Pen:
        state_.pen = object->pen;
        break;
    case GdiObject::Kind::Brush:
        state_.brush = object->brush;
        break;
    case GdiObject::Kind::Font:
        state_.font = object->font;
        break;
    case GdiObject::Kind::Region:
        SelectClipRegion(&object->region, ClipMode::Copy, false);
        break;
    default:
        break;
    }
}

void MetaDC::SelectStockObject(std::uint32_t stock) {
    const auto brush = [&](std::uint32_t style, QColor color) {
        state_.brush = LogBrush{};
        state_.brush.style = style;
        state_.brush.color = color;
    };
    const auto pen = [&](std::uint32_t style, QColor color) {
        state_.pen = LogPen{};
        state_.pen.style = style;
        state_.pen.color = color;
    };
    switch (stock) {
    case kWhiteBrush:
        brush(kBsSolid, QColor(255, 255, 255));
        break;
    case kLtGrayBrush:
        brush(kBsSolid, QColor(192, 192, 192));
        break;
    case kGrayBrush:
        brush(kBsSolid, QColor(128, 128, 128));
        break;
    case kDkGrayBrush:
        brush(kBsSolid, QColor(64, 64, 64));
        break;
    case kBlackBrush:
        brush(kBsSolid, QColor(0, 0, 0));
        break;
    case kNullBrush:
        brush(kBsNull, QColor(0, 0, 0));
        break;
    case kWhitePen:
        pen(kPsSolid, QColor(255, 255, 255));
        break;
    case kBlackPen:
        pen(kPsSolid, QColor(0, 0, 0));
        break;
    case kNullPen:
        pen(kPsNull, QColor(0, 0, 0));
        break;
    case kOemFixedFont:
    case kAnsiFixedFont:
    case kAnsiVarFont:
    case kSystemFont:
    case kDeviceDefaultFont:
    case kSystemFixedFont:
    case kDefaultGuiFont:
        state_.font = LogFont{};
        break;
    default:
        break;
    }
}

void MetaDC::DeleteObject(std::size_t index) {
    if (index < objects_.size()) objects_[index] = GdiObject{};
}

// ---------------------------------------------------------------- state stack

void MetaDC::SaveDC() {
    if (saved_.size() < kMaxSavedStates) saved_.push_back(state_);
}

void MetaDC::RestoreDC(int which) {
    std::size_t keep = 0;
    if (which < 0) {
        const auto back = static_cast<std::size_t>(-static_cast<std::int64_t>(which));
        if (back > saved_.size()) return;
        keep = saved_.size() - back;
    } else if (which > 0 && static_cast<std::size_t>(which) <= saved_.size()) {
        keep = static_cast<std::size_t>(which) - 1;
    } else {
        return;
    }
    state_ = saved_[keep];
    saved_.resize(keep);
    Refresh();
    ApplyClip();
}

// ---------------------------------------------------------------- drawing

void MetaDC::DrawTargetPath(const QPainterPath& targetPath, bool fill, bool stroke) {
    if (fill && state_.brush.style != kBsNull) {
        if (state_.brush.style == kBsHatched && state_.bkMode == kOpaque)
            painter_.fillPath(targetPath, state_.bkColor);
        painter_.fillPath(targetPath, TargetBrush(state_.brush));
    }
    if (!stroke) return;
    const QPen pen = TargetPen();
    if (pen.style() == Qt::NoPen) return;
    const bool raster = state_.rop2 == kR2Not || state_.rop2 == kR2XorPen;
    if (raster) {
        painter_.save();
        painter_.setCompositionMode(state_.rop2 == kR2Not
                                        ? QPainter::RasterOp_NotDestination
                                        : QPainter::RasterOp_SourceXorDestination);
    }
    painter_.strokePath(targetPath, pen);
    if (raster) painter_.restore();
}

void MetaDC::AddToPath(const QPainterPath& logicalPath) {
    path_.addPath(logicalToTarget_.map(logicalPath));
    pathOpen_ = false;
}

// QPainterPath::connectPath drops a trailing moveTo and joins the new piece to the figure
// before it, so every figure of a path that starts with a curve would be tied to the one
// before, and the ties would enclose wedges that a fill paints. A new figure (after MoveTo or
// CloseFigure) therefore starts a subpath of its own; only an open figure is continued.
// (tests/data/metafile/emf-path-figures.emf)
void MetaDC::ContinueFigure(const QPainterPath& logicalPiece) {
    const QPainterPath piece = logicalToTarget_.map(logicalPiece);
    if (pathOpen_)
        path_.connectPath(piece);
    else
        path_.addPath(piece);
    pathOpen_ = true;
}

void MetaDC::DrawShape(const QPainterPath& logicalPath, bool fill, bool stroke) {
    if (inPath_) {
        AddToPath(logicalPath);
        return;
    }
    QPainterPath target = logicalToTarget_.map(logicalPath);
    target.setFillRule(logicalPath.fillRule());
    DrawTargetPath(target, fill, stroke);
}

void MetaDC::MoveTo(QPointF p) {
    state_.position = p;
    pathOpen_ = false;
}

void MetaDC::LineTo(QPointF p) {
    if (inPath_) {
        if (!pathOpen_) path_.moveTo(logicalToTarget_.map(state_.position));
        path_.lineTo(logicalToTarget_.map(p));
        pathOpen_ = true;
    } else {
        QPainterPath line(state_.position);
        line.lineTo(p);
        DrawShape(line, false, true);
    }
    state_.position = p;
}

void MetaDC::Polyline(const std::vector<QPointF>& points) {
    if (points.size() < 2) return;
    QPainterPath path(points.front());
    for (std::size_t i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    DrawShape(path, false, true);
}

void MetaDC::PolylineTo(const std::vector<QPointF>& points) {
    if (points.empty()) return;
    if (inPath_) {
        for (const QPointF& p : points)
            LineTo(p);
        return;
    }
    QPainterPath path(state_.position);
    for (const QPointF& p : points)
        path.lineTo(p);
    DrawShape(path, false, true);
    state_.position = points.back();
}

void MetaDC::PolyBezier(const std::vector<QPointF>& points) {
    if (points.size() < 4) return;
    QPainterPath path(points.front());
    for (std::size_t i = 1; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    DrawShape(path, false, true);
}

void MetaDC::PolyBezierTo(const std::vector<QPointF>& points) {
    if (points.size() < 3) return;
    QPainterPath path(state_.position);
    std::size_t i = 0;
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (inPath_)
        ContinueFigure(path);
    else
        DrawShape(path, false, true);
    state_.position = points[i - 1];
}

void MetaDC::Polygon(const std::vector<QPointF>& points) {
    if (points.size() < 2) return;
    QPainterPath path(points.front());
    for (std::size_t i = 1; i < points.size(); ++i)
        path.lineTo(points[i]);
    path.closeSubpath();
    path.setFillRule(FillRule());
    DrawShape(path, true, true);
}

void MetaDC::PolyPolygon(const std::vector<std::vector<QPointF>>& polygons) {
    QPainterPath path;
    path.setFillRule(FillRule());
    for (const auto& polygon : polygons) {
        if (polygon.size() < 2) continue;
        path.moveTo(polygon.front());
        for (std::size_t i = 1; i < polygon.size(); ++i)
            path.lineTo(polygon[i]);
        path.closeSubpath();
    }
    DrawShape(path, true, true);
}

void MetaDC::PolyPolyline(const std::vector<std::vector<QPointF>>& lines) {
    for (const auto& line : lines)
        Polyline(line);
}

void MetaDC::Rectangle(const QRectF& r) {
    DrawShape(RectPath(r), true, true);
}

void MetaDC::RoundRect(const QRectF& r, QSizeF corner) {
    QPainterPath path;
    path.addRoundedRect(r.normalized(), std::abs(corner.width()) / 2,
                        std::abs(corner.height()) / 2);
    DrawShape(path, true, true);
}

void MetaDC::Ellipse(const QRectF& r) {
    QPainterPath path;
    path.addEllipse(r.normalized());
    DrawShape(path, true, true);
}

QPainterPath MetaDC::ArcPath(ArcKind kind, const QRectF& box, QPointF start, QPointF end,
                             QPointF* arcStart, QPointF* arcEnd) const {
    const QRectF r = box.normalized();
    const QPointF c = r.center();
    const double rx = r.width() / 2;
    const double ry = r.height() / 2;
    QPainterPath path;
    if (rx <= 0 || ry <= 0) return path;
    // Angles of the radials through the two points, as the ellipse's own parameter.
    const double a0 = Degrees(std::atan2(-(start.y() - c.y()) / ry, (start.x() - c.x()) / rx));
    const double a1 = Degrees(std::atan2(-(end.y() - c.y()) / ry, (end.x() - c.x()) / rx));
    double sweep = std::fmod(a1 - a0 + 720.0, 360.0); // counterclockwise
    if (sweep <= 1e-9) sweep = 360;
    // The direction is that seen on the target; a mirroring mapping turns it round.
    const bool clockwise =
        (state_.arcDirection == kClockwise) != (Determinant(logicalToTarget_) < 0);
    if (clockwise) sweep = sweep >= 360 ? -360 : sweep - 360;
    path.arcMoveTo(r, a0);
    if (arcStart) *arcStart = path.currentPosition();
    if (kind == ArcKind::Pie) {
        path = QPainterPath(c);
        path.arcTo(r, a0, sweep);
    } else {
        path.arcTo(r, a0, sweep);
    }
    if (arcEnd) *arcEnd = path.currentPosition();
    if (kind == ArcKind::Chord || kind == ArcKind::Pie) path.closeSubpath();
    return path;
}

void MetaDC::ArcShape(ArcKind kind, const QRectF& box, QPointF start, QPointF end) {
    QPointF arcStart;
    QPointF arcEnd;
    QPainterPath arc = ArcPath(kind, box, start, end, &arcStart, &arcEnd);
    if (arc.isEmpty()) return;
    if (kind == ArcKind::ArcTo) {
        QPainterPath path(state_.position);
        path.lineTo(arcStart);
        path.connectPath(arc);
        if (inPath_)
            ContinueFigure(path);
        else
            DrawShape(path, false, true);
        state_.position = arcEnd;
        return;
    }
    const bool closed = kind != ArcKind::Arc;
    DrawShape(arc, closed, true);
}

void MetaDC::AngleArc(QPointF center, double radius, double startDegrees, double sweepDegrees) {
    if (!std::isfinite(radius) || !std::isfinite(startDegrees) || !std::isfinite(sweepDegrees))
        return;
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath path(state_.position);
    path.arcTo(box, startDegrees, std::clamp(sweepDegrees, -3600.0, 3600.0));
    const QPointF end = path.currentPosition();
    if (inPath_)
        ContinueFigure(path);
    else
        DrawShape(path, false, true);
    state_.position = end;
}

void MetaDC::SetPixel(QPointF p, QColor c) {
    const QPointF t = logicalToTarget_.map(p);
    painter_.fillRect(QRectF(std::floor(t.x()), std::floor(t.y()), 1, 1), c);
}

// ---------------------------------------------------------------- regions and clipping

QPainterPath MetaDC::TargetRegion(const QPainterPath& region, bool deviceUnits) const {
    return deviceUnits ? deviceToTarget_.map(region) : logicalToTarget_.map(region);
}

void MetaDC::FillRegion(const QPainterPath& region, const LogBrush& brush, bool deviceUnits) {
    painter_.fillPath(TargetRegion(region, deviceUnits), TargetBrush(brush));
}

void MetaDC::FrameRegion(const QPainterPath& region, const LogBrush& brush, bool deviceUnits) {
    painter_.strokePath(TargetRegion(region, deviceUnits), QPen(TargetBrush(brush), 1));
}

void MetaDC::PaintRegion(const QPainterPath& region, bool deviceUnits) {
    FillRegion(region, state_.brush, deviceUnits);
}

void MetaDC::InvertRegion(const QPainterPath& region, bool deviceUnits) {
    painter_.save();
    painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
    painter_.fillPath(TargetRegion(region, deviceUnits), Qt::white);
    painter_.restore();
}

void MetaDC::ApplyClip() {
    painter_.setClipRect(target_);
    if (state_.hasClip) painter_.setClipPath(state_.clip, Qt::IntersectClip);
}

void MetaDC::CombineClip(const QPainterPath& target, ClipMode mode) {
    QPainterPath base = state_.hasClip ? state_.clip : RectPath(target_);
    switch (mode) {
    case ClipMode::Copy:
        base = target;
        break;
    case ClipMode::And:
        base = base.intersected(target);
        break;
    case ClipMode::Or:
        base = base.united(target);
        break;
    case ClipMode::Diff:
        base = base.subtracted(target);
        break;
    case ClipMode::Xor:
        base = base.united(target).subtracted(base.intersected(target));
        break;
    }
    state_.clip = base;
    state_.hasClip = true;
    ApplyClip();
}

void MetaDC::IntersectClipRect(const QRectF& r) {
    CombineClip(logicalToTarget_.map(RectPath(r)), ClipMode::And);
}

void MetaDC::ExcludeClipRect(const QRectF& r) {
    CombineClip(logicalToTarget_.map(RectPath(r)), ClipMode::Diff);
}

void MetaDC::OffsetClip(QPointF d) {
    if (!state_.hasClip) return;
    const QPointF offset = logicalToTarget_.map(d) - logicalToTarget_.map(QPointF(0, 0));
    state_.clip.translate(offset);
    ApplyClip();
}

void MetaDC::SelectClipRegion(const QPainterPath* region, ClipMode mode, bool deviceUnits) {
    if (region == nullptr) {
        if (mode == ClipMode::Copy) {
            state_.hasClip = false;
            state_.clip = QPainterPath();
            ApplyClip();
        }
        return;
    }
    CombineClip(TargetRegion(*region, deviceUnits), mode);
}

// ---------------------------------------------------------------- paths

void MetaDC::BeginPath() {
    inPath_ = true;
    path_ = QPainterPath();
    pathOpen_ = false;
}

void MetaDC::EndPath() {
    inPath_ = false;
}

void MetaDC::AbortPath() {
    inPath_ = false;
    path_ = QPainterPath();
}

void MetaDC::CloseFigure() {
    if (!inPath_) return;
    path_.closeSubpath();
    pathOpen_ = false;
}

void MetaDC::FillPath() {
    if (inPath_) return;
    path_.setFillRule(FillRule());
    DrawTargetPath(path_, true, false);
    path_ = QPainterPath();
}

void MetaDC::StrokePath() {
    if (inPath_) return;
    DrawTargetPath(path_, false, true);
    path_ = QPainterPath();
}

void MetaDC::StrokeAndFillPath() {
    if (inPath_) return;
    path_.setFillRule(FillRule());
    DrawTargetPath(path_, true, true);
    path_ = QPainterPath();
}

void MetaDC::SelectClipPath(ClipMode mode) {
    if (inPath_) return;
    path_.setFillRule(FillRule());
    CombineClip(path_, mode);
    path_ = QPainterPath();
}

} // namespace sorowa::metafile
