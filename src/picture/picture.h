#pragma once
// The picture holder of an image control, and the process-wide file-format registry that
// maps a file-name extension to a picture class.

#include "picture/graphic.h"

#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace sorowa {

struct TFileFormat {
    QString extension; // lower case, without the leading "."
    QString description;
    const TGraphicClass* graphicClass;
};

// Appends an entry; the extension is lower-cased. Duplicates are allowed: the later wins.
void RegisterPictureFormat(const QString& extension, const QString& description,
                           const TGraphicClass& graphicClass);
// Removes every entry whose class is graphicClass or derives from it.
void UnregisterPictureClass(const TGraphicClass& graphicClass);
// The class for an extension, searching from the last registration; nullptr when none.
const TGraphicClass* FindPictureClass(const QString& extension);
// The registry's entries in registration order.
std::vector<TFileFormat> PictureFormats();

// The extension of path: the text after its last "." when no "/" follows; else empty.
QString PictureExtension(const QString& path);

class TPicture {
public:
    using ChangeCallback = std::function<void()>;
    using ProgressCallback = std::function<void(TGraphic&, const TProgressReport&)>;

    explicit TPicture(const TPictureContext& context = {});
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // Loads path with the class registered for its extension. On failure the error
    // propagates and the previous graphic stays.
    void LoadFile(const QString& path);

    TGraphic* Graphic() const { return graphic_.get(); }
    int Width() const { return graphic_ ? graphic_->Width() : 0; }
    int Height() const { return graphic_ ? graphic_->Height() : 0; }

    void SetOnChange(ChangeCallback callback) { onChange_ = std::move(callback); }
    void SetOnProgress(ProgressCallback callback) { onProgress_ = std::move(callback); }

private:
    void Changed();

    TPictureContext context_; // given to every graphic it loads
    std::unique_ptr<TGraphic> graphic_;
    ChangeCallback onChange_;
    ProgressCallback onProgress_;
};

} // namespace sorowa
