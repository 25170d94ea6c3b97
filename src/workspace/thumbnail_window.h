#pragma once
// A thumbnail window: one picture file of the open folder, scaled to the thumbnail size,
// inside the main window's frame. A small caption bar shows its place in the sequence
// (number;file name); a thin border surrounds the picture. The user selects it with a
// click (Ctrl and Shift widen the selection, the arrow keys walk the grid), opens its
// file with a double click, moves it in the sequence with Page Up and Page Down or drags
// it by its picture to another place; the window itself cannot be moved, resized,
// minimised, maximised or closed by the user.

#include <QWidget>
#include <optional>

class QMouseEvent;

namespace sorowa {

class TImage;
class TMdiFrame;

class TForm_Grp : public QWidget {
    Q_OBJECT
public:
    // Frame sizes: the border on every side and the caption bar above the picture.
    static constexpr int kBorder = 3;
    static constexpr int kCaptionHeight = 20;

    // Creates the window in frame, visible and active, with the thumbnail size as client size.
    explicit TForm_Grp(TMdiFrame* frame);

    // Sets the caption to numberText;bare-name and loads the picture at path. A load that
    // fails shows the load-failure message and leaves the picture empty.
    void LoadPicture(const QString& numberText, const QString& path);

    TImage* Image1() const { return image_; }
    TMdiFrame* Frame() const { return frame_; }
    // Sets the client size (the image control follows).
    void SetClientSize(QSize size);
    QSize ClientSize() const;

    // The file name part of the caption (empty while it is no sequence caption).
    QString FileName() const;
    // The number of the caption, read once each time the caption changes.
    std::optional<int> Number() const { return number_; }

signals:
    // Page Up (up = true) or Page Down pressed in this window.
    void MoveKeyPressed(bool up);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void FormResize();
    void Image1DblClick();
    QPoint PointInViewport(const QMouseEvent* event) const;

    TMdiFrame* frame_;
    TImage* image_;
    std::optional<int> number_;
    bool closed_ = false;
};

} // namespace sorowa
