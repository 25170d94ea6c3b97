#pragma once
// An integer field with up and down buttons. The buttons and the Up and Down keys step by
// 1; only digits, "+", "-" and the decimal separator can be typed (Enter is refused too);
// a text that is not an integer reads as the minimum; the value is clamped into the range
// when it is stepped, set, or the field loses focus.

#include <QAbstractSpinBox>

namespace sorowa::platform {

class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    void SetRange(int minimum, int maximum);
    // The text read as an integer, or the minimum when it is none.
    int Value() const;
    void SetValue(int value);

    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    QValidator::State validate(QString& input, int& pos) const override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    bool Allowed(QChar c) const;
    int Clamp(qint64 value) const;

    int min_ = 0;
    int max_ = 100;
};

} // namespace sorowa::platform
