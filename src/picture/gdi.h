#pragma once
// The numbers of the Windows drawing interface that metafile records carry: record types,
// stock objects, pen, brush and hatch styles, raster operations, modes and flags. Both
// players and the device context they draw through name them from here and nowhere else.

#include <cstdint>

namespace sorowa::metafile {

// Enhanced metafile record types (EMR_*); records of other types draw nothing.
namespace emr {
enum Type : std::uint32_t {
    kHeader = 1,
    kPolyBezier = 2,
    kPolygon = 3,
    kPolyline = 4,
    kPolyBezierTo = 5,
    kPolylineTo = 6,
    kPolyPolyline = 7,
    kPolyPolygon = 8,
    kSetWindowExtEx = 9,
    kSetWindowOrgEx = 10,
    kSetViewportExtEx = 11,
    kSetViewportOrgEx = 12,
    kEof = 14,
    kSetPixelV = 15,
    kSetMapMode = 17,
    kSetBkMode = 18,
    kSetPolyFillMode = 19,
    kSetRop2 = 20,
    kSetStretchBltMode = 21,
    kSetTextAlign = 22,
    kSetTextColor = 24,
    kSetBkColor = 25,
    kOffsetClipRgn = 26,
    kMoveToEx = 27,
    kExcludeClipRect = 29,
    kIntersectClipRect = 30,
    kScaleViewportExtEx = 31,
    kScaleWindowExtEx = 32,
    kSaveDC = 33,
    kRestoreDC = 34,
    kSetWorldTransform = 35,
    kModifyWorldTransform = 36,
    kSelectObject = 37,
    kCreatePen = 38,
    kCreateBrushIndirect = 39,
    kDeleteObject = 40,
    kAngleArc = 41,
    kEllipse = 42,
    kRectangle = 43,
    kRoundRect = 44,
    kArc = 45,
    kChord = 46,
    kPie = 47,
    kCreatePalette = 49,
    kLineTo = 54,
    kArcTo = 55,
    kSetArcDirection = 57,
    kBeginPath = 59,
    kEndPath = 60,
    kCloseFigure = 61,
    kFillPath = 62,
    kStrokeAndFillPath = 63,
    kStrokePath = 64,
    kSelectClipPath = 67,
    kAbortPath = 68,
    kFillRgn = 71,
    kFrameRgn = 72,
    kInvertRgn = 73,
    kPaintRgn = 74,
    kExtSelectClipRgn = 75,
    kBitBlt = 76,
    kStretchBlt = 77,
    kSetDiBitsToDevice = 80,
    kStretchDiBits = 81,
    kExtCreateFontIndirectW = 82,
    kExtTextOutA = 83,
    kExtTextOutW = 84,
    kPolyBezier16 = 85,
    kPolygon16 = 86,
    kPolyline16 = 87,
    kPolyBezierTo16 = 88,
    kPolylineTo16 = 89,
    kPolyPolyline16 = 90,
    kPolyPolygon16 = 91,
    kCreateMonoBrush = 93,
    kCreateDibPatternBrushPt = 94,
    kExtCreatePen = 95,
    kAlphaBlend = 114,
    kSetTextJustification = 120,
};
// The header record's signature, " EMF".
inline constexpr std::uint32_t kSignature = 0x464D4520;
} // namespace emr

// Windows metafile functions (META_*); the high byte is the record's parameter count
// when it has a fixed one.
namespace meta {
enum Function : std::uint16_t {
    kEof = 0x0000,
    kSaveDC = 0x001E,
    kCreatePalette = 0x00F7,
    kSetBkMode = 0x0102,
    kSetMapMode = 0x0103,
    kSetRop2 = 0x0104,
    kSetPolyFillMode = 0x0106,
    kSetStretchBltMode = 0x0107,
    kSetTextCharExtra = 0x0108,
    kRestoreDC = 0x0127,
    kInvertRegion = 0x012A,
    kPaintRegion = 0x012B,
    kSelectClipRegion = 0x012C,
    kSelectObject = 0x012D,
    kSetTextAlign = 0x012E,
    kDibCreatePatternBrush = 0x0142,
    kDeleteObject = 0x01F0,
    kCreatePatternBrush = 0x01F9,
    kSetBkColor = 0x0201,
    kSetTextColor = 0x0209,
    kSetWindowOrg = 0x020B,
    kSetWindowExt = 0x020C,
    kSetViewportOrg = 0x020D,
    kSetViewportExt = 0x020E,
    kOffsetWindowOrg = 0x020F,
    kOffsetViewportOrg = 0x0211,
    kLineTo = 0x0213,
    kMoveTo = 0x0214,
    kOffsetClipRgn = 0x0220,
    kFillRegion = 0x0228,
    kCreatePenIndirect = 0x02FA,
    kCreateFontIndirect = 0x02FB,
    kCreateBrushIndirect = 0x02FC,
    kPolygon = 0x0324,
    kPolyline = 0x0325,
    kScaleWindowExt = 0x0410,
    kScaleViewportExt = 0x0412,
    kExcludeClipRect = 0x0415,
    kIntersectClipRect = 0x0416,
    kEllipse = 0x0418,
    kRectangle = 0x041B,
    kSetPixel = 0x041F,
    kFrameRegion = 0x0429,
    kTextOut = 0x0521,
    kPolyPolygon = 0x0538,
    kRoundRect = 0x061C,
    kPatBlt = 0x061D,
    kCreateRegion = 0x06FF,
    kArc = 0x0817,
    kPie = 0x081A,
    kChord = 0x0830,
    kDibBitBlt = 0x0940,
    kExtTextOut = 0x0A32,
    kDibStretchBlt = 0x0B41,
    kSetDibToDev = 0x0D33,
    kStretchDib = 0x0F43,
};
// Metafile types of the header: in memory, on disk.
inline constexpr std::uint16_t kMemoryMetafile = 1;
inline constexpr std::uint16_t kDiskMetafile = 2;
// The header's size in 16-bit words, the same in every Windows metafile.
inline constexpr std::uint16_t kHeaderWords = 9;
} // namespace meta

// Stock objects (GetStockObject); an enhanced metafile names one with kStockObjectFlag.
enum StockObject : std::uint32_t {
    kWhiteBrush = 0,
    kLtGrayBrush = 1,
    kGrayBrush = 2,
    kDkGrayBrush = 3,
    kBlackBrush = 4,
    kNullBrush = 5,
    kWhitePen = 6,
    kBlackPen = 7,
    kNullPen = 8,
    kOemFixedFont = 10,
    kAnsiFixedFont = 11,
    kAnsiVarFont = 12,
    kSystemFont = 13,
    kDeviceDefaultFont = 14,
    kDefaultPalette = 15,
    kSystemFixedFont = 16,
    kDefaultGuiFont = 17,
};
inline constexpr std::uint32_t kStockObjectFlag = 0x80000000u;

// Pen styles: the dash style in the low bits, end cap and join of geometric pens above.
inline constexpr std::uint32_t kPsSolid = 0;
inline constexpr std::uint32_t kPsDash = 1;
inline constexpr std::uint32_t kPsDot = 2;
inline constexpr std::uint32_t kPsDashDot = 3;
inline constexpr std::uint32_t kPsDashDotDot = 4;
inline constexpr std::uint32_t kPsNull = 5;
inline constexpr std::uint32_t kPsUserStyle = 7;
inline constexpr std::uint32_t kPsStyleMask = 0x000F;
inline constexpr std::uint32_t kPsEndcapSquare = 0x0100;
inline constexpr std::uint32_t kPsEndcapFlat = 0x0200;
inline constexpr std::uint32_t kPsEndcapMask = 0x0F00;
inline constexpr std::uint32_t kPsJoinBevel = 0x1000;
inline constexpr std::uint32_t kPsJoinMiter = 0x2000;
inline constexpr std::uint32_t kPsJoinMask = 0xF000;

// Brush styles.
inline constexpr std::uint32_t kBsSolid = 0;
inline constexpr std::uint32_t kBsNull = 1;
inline constexpr std::uint32_t kBsHatched = 2;
inline constexpr std::uint32_t kBsPattern = 3;

// Hatch styles.
inline constexpr std::uint32_t kHsHorizontal = 0;
inline constexpr std::uint32_t kHsVertical = 1;
inline constexpr std::uint32_t kHsFDiagonal = 2; // top left to bottom right
inline constexpr std::uint32_t kHsBDiagonal = 3; // bottom left to top right
inline constexpr std::uint32_t kHsCross = 4;

// Binary raster operations of pens (SetROP2).
inline constexpr int kR2Not = 6;
inline constexpr int kR2XorPen = 7;
inline constexpr int kR2Nop = 11;
inline constexpr int kR2CopyPen = 13;

// Ternary raster operations of bitmap and pattern blits; blits with the others draw as a copy.
inline constexpr std::uint32_t kSrcCopy = 0x00CC0020;
inline constexpr std::uint32_t kSrcPaint = 0x00EE0086;
inline constexpr std::uint32_t kSrcAnd = 0x008800C6;
inline constexpr std::uint32_t kSrcInvert = 0x00660046;
inline constexpr std::uint32_t kNotSrcCopy = 0x00330008;
inline constexpr std::uint32_t kPatCopy = 0x00F00021;
inline constexpr std::uint32_t kPatInvert = 0x005A0049;
inline constexpr std::uint32_t kDstInvert = 0x00550009;
inline constexpr std::uint32_t kBlackness = 0x00000042;
inline constexpr std::uint32_t kWhiteness = 0x00FF0062;

// The blend function of an alpha blend, packed in the record's operation field: the
// constant alpha in bits 16-23, AC_SRC_ALPHA (per-pixel alpha) in bit 24.
inline constexpr int kBlendConstantAlphaShift = 16;
inline constexpr int kBlendSourceAlphaShift = 24;

// Map modes.
enum MapMode {
    kMmText = 1,
    kMmLoMetric = 2,
    kMmHiMetric = 3,
    kMmLoEnglish = 4,
    kMmHiEnglish = 5,
    kMmTwips = 6,
    kMmIsotropic = 7,
    kMmAnisotropic = 8,
};

// How ModifyWorldTransform combines its matrix with the world transform.
inline constexpr int kMwtIdentity = 1;
inline constexpr int kMwtLeftMultiply = 2;
inline constexpr int kMwtRightMultiply = 3;
inline constexpr int kMwtSet = 4;

// Text alignment flags; centre is right and left together, base line is bottom and top.
inline constexpr std::uint32_t kTaTopLeft = 0;
inline constexpr std::uint32_t kTaUpdateCp = 1;
inline constexpr std::uint32_t kTaRight = 2;
inline constexpr std::uint32_t kTaCenter = 6;
inline constexpr std::uint32_t kTaBottom = 8;
inline constexpr std::uint32_t kTaBaseline = 24;

// ExtTextOut options; either of the two rectangle ones means the record carries one.
inline constexpr std::uint32_t kEtoOpaque = 2;
inline constexpr std::uint32_t kEtoClipped = 4;
inline constexpr std::uint32_t kEtoRectangle = kEtoOpaque | kEtoClipped;

// Polygon fill modes.
inline constexpr int kAlternate = 1;
inline constexpr int kWinding = 2;

// Background modes.
inline constexpr int kTransparent = 1;
inline constexpr int kOpaque = 2;

// Arc directions.
inline constexpr int kCounterClockwise = 1;
inline constexpr int kClockwise = 2;

// Stretch modes of bitmap blits.
inline constexpr int kBlackOnWhite = 1;
inline constexpr int kHalftone = 4;

// How a region combines with the clip (RGN_*).
enum class ClipMode { And = 1, Or = 2, Xor = 3, Diff = 4, Copy = 5 };
inline constexpr std::uint32_t kFirstClipMode = 1;
inline constexpr std::uint32_t kLastClipMode = 5;

// The weight of a regular font; a logical font of weight 0 takes it.
inline constexpr int kFwNormal = 400;

// Character sets of a logical font.
inline constexpr int kAnsiCharset = 0;
inline constexpr int kDefaultCharset = 1;
inline constexpr int kSymbolCharset = 2;
inline constexpr int kMacCharset = 77;
inline constexpr int kShiftJisCharset = 128;
inline constexpr int kHangulCharset = 129;
inline constexpr int kJohabCharset = 130;
inline constexpr int kGb2312Charset = 134;
inline constexpr int kChineseBig5Charset = 136;
inline constexpr int kGreekCharset = 161;
inline constexpr int kTurkishCharset = 162;
inline constexpr int kVietnameseCharset = 163;
inline constexpr int kHebrewCharset = 177;
inline constexpr int kArabicCharset = 178;
inline constexpr int kBalticCharset = 186;
inline constexpr int kRussianCharset = 204;
inline constexpr int kThaiCharset = 222;
inline constexpr int kEastEuropeCharset = 238;
inline constexpr int kOemCharset = 255;

// Device-independent bitmaps: header sizes and compressions.
inline constexpr std::uint32_t kBitmapCoreHeaderSize = 12;
inline constexpr std::uint32_t kBitmapInfoHeaderSize = 40;
inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;

} // namespace sorowa::metafile
