#include "picture/metafile_dc.h"

#include <QFontMetricsF>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace sorowa::metafile {
namespace {

Qt::BrushStyle HatchStyle(std::uint32_t hatch) {
    switch (hatch) {
    case kHsHorizontal:
        return Qt::HorPattern;
    case kHsVertical:
        return Qt::VerPattern;
    case kHsFDiagonal:
        return Qt::FDiagPattern;
    case kHsBDiagonal:
        return Qt::BDiagPattern;
    case kHsCross:
        return Qt::CrossPattern;
    default:
        return Qt::DiagCrossPattern;
    }
}

} // namespace

// ---------------------------------------------------------------- pens and brushes

double MetaDC::TargetScale() const {
    return std::sqrt(std::abs(Determinant(logicalToTarget_)));
}

QPen MetaDC::TargetPen() const {
    const LogPen& p = state_.pen;
    if ((p.style & kPsStyleMask) == kPsNull || state_.rop2 == kR2Nop) return Qt::NoPen;
    const double width = std::max(1.0, p.width * TargetScale());
    QPen pen(p.color, width);
    switch (p.style & kPsStyleMask) {
    case kPsDash:
        pen.setStyle(Qt::DashLine);
        break;
    case kPsDot:
        pen.setStyle(Qt::DotLine);
        break;
    case kPsDashDot:
        pen.setStyle(Qt::DashDotLine);
        break;
    case kPsDashDotDot:
        pen.setStyle(Qt::DashDotDotLine);
        break;
    case kPsUserStyle: { // lengths in logical units, Qt's in pen widths
        QList<qreal> pattern;
        for (const double length : p.dashes)
            pattern.append(std::max(0.1, length * TargetScale() / width));
        if (pattern.size() % 2 == 1) pattern.append(pattern.back());
        if (!pattern.isEmpty()) pen.setDashPattern(pattern);
        break;
    }
    default:
        pen.setStyle(Qt::SolidLine);
        break;
    }
    if (width <= 1.5) {
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
    } else {
        const std::uint32_t cap = p.style & kPsEndcapMask;
        const std::uint32_t join = p.style & kPsJoinMask;
        pen.setCapStyle(cap == kPsEndcapSquare ? Qt::SquareCap
                        : cap == kPsEndcapFlat ? Qt::FlatCap
                                               : Qt::RoundCap);
        pen.setJoinStyle(join == kPsJoinBevel   ? Qt::BevelJoin
                         : join == kPsJoinMiter ? Qt::MiterJoin
                                                : Qt::RoundJoin);
    }
    return pen;
}

QBrush MetaDC::TargetBrush(const LogBrush& brush) const {
    switch (brush.style) {
    case kBsSolid:
        return QBrush(brush.color);
    case kBsNull:
        return Qt::NoBrush;
    case kBsHatched:
        return QBrush(brush.color, HatchStyle(brush.hatch));
    default:
        if (brush.monochrome && brush.pattern.format() == QImage::Format_Mono) {
            QImage tile = brush.pattern;
            tile.setColorTable({state_.textColor.rgb(), state_.bkColor.rgb()});
            return QBrush(tile.convertToFormat(QImage::Format_RGB32));
        }
        if (!brush.pattern.isNull()) return QBrush(brush.pattern);
        return QBrush(brush.color);
    }
}

Qt::FillRule MetaDC::FillRule() const {
    return state_.polyFillMode == kWinding ? Qt::WindingFill : Qt::OddEvenFill;
}

// ---------------------------------------------------------------- text

void MetaDC::TextOut(QPointF p, const QString& text, std::uint32_t options, const QRectF* rect,
                     const std::vector<double>& advances) {
    const QTransform& t = logicalToTarget_;
    if (rect != nullptr && (options & kEtoOpaque) != 0)
        painter_.fillPath(t.map(RectPath(*rect)), state_.bkColor);
    if (text.isEmpty()) return;

    const LogFont& lf = state_.font;
    const double yScale = std::hypot(t.m21(), t.m22());
    const double xScale = std::hypot(t.m11(), t.m12());
    QFont font;
    if (!lf.face.isEmpty()) font.setFamily(lf.face);
    double em = lf.height == 0 ? 12 : std::abs(lf.height) * yScale;
    if (lf.height > 0) { // cell height: take the font's own leading off
        QFont probe = font;
        probe.setPixelSize(100);
        const QFontMetricsF fm(probe);
        if (fm.height() > 0) em = em * 100 / fm.height();
    }
    font.setPixelSize(std::clamp(static_cast<int>(std::lround(em)), 1, 4096));
    font.setWeight(
        static_cast<QFont::Weight>(std::clamp(lf.weight == 0 ? kFwNormal : lf.weight, 1, 1000)));
    font.setItalic(lf.italic);
    font.setUnderline(lf.underline);
    font.setStrikeOut(lf.strikeOut);
    const QFontMetricsF fm(font);

    // Advances along the base line, in target pixels.
    std::vector<double> step;
    double width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        double a = static_cast<std::size_t>(i) < advances.size()
                       ? advances[static_cast<std::size_t>(i)] * xScale
                       : fm.horizontalAdvance(text[i]) + state_.charExtra * xScale;
        step.push_back(a);
        width += a;
    }

    const std::uint32_t align = state_.textAlign;
    const QPointF anchor = (align & kTaUpdateCp) != 0 ? state_.position : p;
    double x0 = 0;
    if ((align & kTaCenter) == kTaCenter)
        x0 = -width / 2;
    else if ((align & kTaRight) != 0)
        x0 = -width;
    double baseline = 0;
    if ((align & kTaBaseline) == kTaBaseline)
        baseline = 0;
    else if ((align & kTaBottom) != 0)
        baseline = -fm.descent();
    else
        baseline = fm.ascent();

    // The escapement turns from the logical x axis towards the logical "up" of a y-down
    // space; where the mapping flips the y axis on its way to the target (a y-up window),
    // that is the other way round on the target. The characters themselves stay upright.
    const double angle = (Determinant(t) < 0 ? -1 : 1) * lf.escapement / 10.0;
    const QPointF origin = t.map(anchor);
    painter_.save();
    if (rect != nullptr && (options & kEtoClipped) != 0)
        painter_.setClipPath(t.map(RectPath(*rect)), Qt::IntersectClip);
    painter_.translate(origin);
    painter_.rotate(-angle);
    if (state_.bkMode == kOpaque)
        painter_.fillRect(QRectF(x0, baseline - fm.ascent(), width, fm.ascent() + fm.descent()),
                          state_.bkColor);
    painter_.setFont(font);
    painter_.setPen(state_.textColor);
    double x = x0;
    bool perCharacter = !advances.empty();
    if (perCharacter) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            // Surrogate pairs are drawn whole at the first half's place.
            if (text[i].isLowSurrogate()) continue;
            const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
            painter_.drawText(QPointF(x, baseline), text.mid(i, n));
            x += step[static_cast<std::size_t>(i)];
            if (n == 2) x += step[static_cast<std::size_t>(i + 1)];
        }
    } else {
        painter_.drawText(QPointF(x, baseline), text);
    }
    painter_.restore();

    if ((align & kTaUpdateCp) != 0) {
        const double radians = angle * M_PI / 180;
        const QPointF end = origin + QPointF(std::cos(radians), -std::sin(radians)) * width;
        bool invertible = false;
        const QTransform back = t.inverted(&invertible);
        if (invertible) state_.position = back.map(end);
    }
}

// ---------------------------------------------------------------- bitmaps

void MetaDC::Blit(const QRectF& dest, const QImage& image, const QRectF& source,
                  std::uint32_t rop) {
    QRectF d = dest;
    QImage picture = image;
    QRectF s = source;
    if (!picture.isNull()) {
        const bool mirrorX = (d.width() < 0) != (s.width() < 0);
        const bool mirrorY = (d.height() < 0) != (s.height() < 0);
        s = s.normalized();
        if (mirrorX || mirrorY) {
            // The whole bitmap is mirrored, and the source rectangle with it: a record may
            // name a source far larger than its bitmap, and a copy of that would be allocated
            // whole. Drawing takes only what lies on the bitmap, mirrored or not.
            picture = picture.mirrored(mirrorX, mirrorY);
            if (mirrorX) s.moveLeft(picture.width() - s.right());
            if (mirrorY) s.moveTop(picture.height() - s.bottom());
        }
    }
    d = d.normalized();
    if (d.isEmpty()) return;

    painter_.save();
    painter_.setTransform(logicalToTarget_);
    if (picture.isNull()) {
        switch (rop) {
        case kPatCopy:
            painter_.fillRect(d, TargetBrush(state_.brush));
            break;
        case kPatInvert:
            painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter_.fillRect(d, TargetBrush(state_.brush));
            break;
        case kBlackness:
            painter_.fillRect(d, Qt::black);
            break;
        case kWhiteness:
            painter_.fillRect(d, Qt::white);
            break;
        case kDstInvert:
            painter_.setCompositionMode(QPainter::RasterOp_NotDestination);
            painter_.fillRect(d, Qt::white);
            break;
        default:
            break;
        }
        painter_.restore();
        return;
    }
    switch (rop) {
    case kSrcPaint:
        painter_.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
        break;
    case kSrcAnd:
        painter_.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        break;
    case kSrcInvert:
        painter_.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
        break;
    case kNotSrcCopy:
        picture.invertPixels();
        break;
    case kBlackness:
        painter_.fillRect(d, Qt::black);
        painter_.restore();
        return;
    case kWhiteness:
        painter_.fillRect(d, Qt::white);
        painter_.restore();
        return;
    default:
        break;
    }
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, state_.stretchMode == kHalftone);
    painter_.drawImage(d, picture, s);
    painter_.restore();
}

void MetaDC::AlphaBlit(const QRectF& dest, const QImage& image, const QRectF& source,
                       int constantAlpha, bool perPixelAlpha) {
    if (image.isNull()) return;
    const QRectF d = dest.normalized();
    if (d.isEmpty()) return;
    QImage picture = image;
    if (!perPixelAlpha && picture.hasAlphaChannel())
        picture = picture.convertToFormat(QImage::Format_RGB32);
    painter_.save();
    painter_.setTransform(logicalToTarget_);
    painter_.setOpacity(std::clamp(constantAlpha, 0, 255) / 255.0);
    painter_.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter_.drawImage(d, picture, source.normalized());
    painter_.restore();
}

} // namespace sorowa::metafile
