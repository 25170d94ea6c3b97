#pragma once
// The image control: a widget that owns a picture holder and paints its picture.

#include "picture/picture.h"

#include <QWidget>

namespace sorowa {

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr) : TImage(TPictureContext{}, parent) {}
    // context: what the pictures it shows are given (picture_context.h).
    TImage(const TPictureContext& context, QWidget* parent);

    TPicture& Picture() { return picture_; }
    bool Stretch() const { return stretch_; }
    void SetStretch(bool value);
    bool Center() const { return center_; }
    void SetCenter(bool value);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PictureChanged();
    QRect DestinationRect() const;

    TPicture picture_;
    bool stretch_ = false;
    bool center_ = false;
};

} // namespace sorowa
