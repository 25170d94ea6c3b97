#include "picture/picture.h"

#include "picture/bitmap.h"
#include "picture/icon.h"
#include "picture/metafile.h"

#include <algorithm>

namespace sorowa {
namespace {

// Created on first use with the built-in formats.
std::vector<TFileFormat>& Registry() {
    static std::vector<TFileFormat> formats{
        {QStringLiteral("wmf"), QStringLiteral("メタファイル"), &TMetafile::Class},
        {QStringLiteral("emf"), QStringLiteral("エンハンス メタファイル"), &TMetafile::Class},
        {QStringLiteral("ico"), QStringLiteral("アイコン"), &TIcon::Class},
        {QStringLiteral("bmp"), QStringLiteral("ビットマップ"), &TBitmap::Class},
    };
    return formats;
}

} // namespace

void RegisterPictureFormat(const QString& extension, const QString& description,
                           const TGraphicClass& graphicClass) {
    Registry().push_back({extension.toLower(), description, &graphicClass});
}

void UnregisterPictureClass(const TGraphicClass& graphicClass) {
    auto& formats = Registry();
    std::erase_if(formats, [&](const TFileFormat& format) {
        return format.graphicClass->InheritsFrom(graphicClass);
    });
}

const TGraphicClass* FindPictureClass(const QString& extension) {
    const QString sought = extension.toLower();
    const auto& formats = Registry();
    for (auto it = formats.rbegin(); it != formats.rend(); ++it)
        if (it->extension == sought) return it->graphicClass;
    return nullptr;
}

std::vector<TFileFormat> PictureFormats() {
    return Registry();
}

QString PictureExtension(const QString& path) {
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || path.indexOf(u'/', dot) >= 0) return {};
    return path.mid(dot + 1);
}

TPicture::TPicture(const TPictureContext& context) : context_(context) {
    Registry();
}

TPicture::~TPicture() = default;

void TPicture::LoadFile(const QString& path) {
    const QString extension = PictureExtension(path);
    const TGraphicClass* graphicClass = FindPictureClass(extension);
    if (graphicClass == nullptr)
        throw EInvalidGraphic(
            QStringLiteral("拡張子 .%1 の画像形式は処理できません").arg(extension));

    std::unique_ptr<TGraphic> graphic = graphicClass->create();
    graphic->SetContext(context_);
    graphic->SetOnProgress([this](TGraphic& sender, const TProgressReport& report) {
        if (onProgress_) onProgress_(sender, report);
    });
    graphic->LoadFile(path); // a failure destroys the new graphic and leaves the old one

    graphic_ = std::move(graphic);
    graphic_->SetOnChange([this](TGraphic&) { Changed(); });
    Changed();
}

void TPicture::Changed() {
    if (onChange_) onChange_();
}

} // namespace sorowa
