#pragma once
// The frame that holds the thumbnail windows. It is a plain MDI area except that the
// keyboard cannot cycle its child windows: the selected thumbnail is the one the user
// clicked, and reordering keys act on it.

#include <QMdiArea>

namespace sorowa {

class TMdiFrame : public QMdiArea {
    Q_OBJECT
public:
    explicit TMdiFrame(QWidget* parent = nullptr);
    // The frame shrinks with the main window as far as the user likes; thumbnails that do
    // not fit are reached with the scroll bars.
    QSize minimumSizeHint() const override { return {0, 0}; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace sorowa
