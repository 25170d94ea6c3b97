#pragma once
// A thumbnail window: one picture file of the open folder, scaled to the thumbnail size,
// inside the main window's frame. Its caption is its place in the sequence. The user
// cannot move, resize, minimise, maximise or close it.

#include <QMdiSubWindow>
#include <optional>

class QMdiArea;

namespace sorowa {

class TImage;

class TForm_Grp : public QMdiSubWindow {
    Q_OBJECT
public:
    // Creates the window in frame, visible and active, with the thumbnail size as client size.
    explicit TForm_Grp(QMdiArea* frame);

    // Sets the caption to numberText;bare-name and loads the picture at path. A load that
    // fails shows the load-failure message and leaves the picture empty.
    void LoadPicture(const QString& numberText, const QString& path);

    TImage* Image1() const { return image_; }
    // Sets the client size (the image control follows).
    void SetClientSize(QSize size);
    QSize ClientSize() const;

    // The file name part of the caption (empty while it is no sequence caption).
    QString FileName() const;
    std::optional<int> Number() const;

signals:
    // Page Up (up = true) or Page Down pressed in this window.
    void MoveKeyPressed(bool up);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void FormResize();
    void Image1DblClick();

    TImage* image_;
};

} // namespace sorowa
