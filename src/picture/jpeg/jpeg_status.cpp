#include "picture/jpeg/jpeg_status.h"

namespace sorowa {

EJPEG::EJPEG(int code) : EJPEG(QStringLiteral("JPEG エラー #%1").arg(code), code) {}

namespace jpeg {

DecodeLimits PictureLimits() {
    return {kMaxScans, kMaxLibraryMemory, kMaxOutputPixels};
}

// A header is read without a progress handler and stops before the first scan's data, so
// libjpeg's own error is the only way it fails.
EJPEG HeaderError(const HeaderResult& header) {
    return EJPEG(header.code);
}

std::optional<EJPEG> DecodeError(const DecodeResult& result) {
    switch (result.status) {
    case DecodeStatus::Ok:
    case DecodeStatus::HandlerStop:
        return std::nullopt;
    case DecodeStatus::LibraryError:
        return EJPEG(result.code);
    case DecodeStatus::TooManyScans:
        return EJPEG(QStringLiteral("JPEG イメージのスキャンが多すぎます（%1 を超えています）")
                         .arg(kMaxScans));
    case DecodeStatus::OverPixelBudget:
        return EJPEG(QStringLiteral("JPEG イメージが大きすぎます（%1 x %2 ピクセル）")
                         .arg(result.width)
                         .arg(result.height));
    case DecodeStatus::NoMemory:
        return EJPEG(QStringLiteral("JPEG イメージのメモリが足りません"));
    }
    return EJPEG(result.code);
}

EJPEG RereadError(const platform::RereadResult& reread, const QString& loadedPath) {
    switch (reread.status) {
    case platform::RereadStatus::Missing:
        return EJPEG(QStringLiteral("画像ファイルが見つかりません（読み込んだ時の名前: %1）")
                         .arg(loadedPath));
    case platform::RereadStatus::Changed:
        return EJPEG(
            QStringLiteral("画像ファイルが読み込んだ後で変更されています: %1").arg(reread.path));
    case platform::RereadStatus::Ok:
    case platform::RereadStatus::ReadError:
        break;
    }
    return EJPEG(QStringLiteral("画像ファイルを読み込めません: %1").arg(reread.path));
}

void RethrowHandlerError(const std::exception_ptr& handlerError) {
    if (!handlerError) return;
    try {
        std::rethrow_exception(handlerError);
    } catch (const EAbort&) {
    }
}

} // namespace jpeg
} // namespace sorowa
