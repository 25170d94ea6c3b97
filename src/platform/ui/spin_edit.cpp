#include "platform/ui/spin_edit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <algorithm>

namespace sorowa::platform {

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
    SetValue(0);
}

void TSpinEdit::SetRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = std::max(minimum, maximum);
    SetValue(Value());
}

int TSpinEdit::Clamp(qint64 value) const {
    return static_cast<int>(std::clamp<qint64>(value, min_, max_));
}

int TSpinEdit::Value() const {
    bool ok = false;
    const int value = text().trimmed().toInt(&ok, 10);
    return ok ? value : min_;
}

void TSpinEdit::SetValue(int value) {
    lineEdit()->setText(QString::number(Clamp(value)));
}

void TSpinEdit::stepBy(int steps) {
    SetValue(Clamp(qint64{Value()} + steps));
    selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    if (!isEnabled() || isReadOnly()) return StepNone;
    StepEnabled enabled = StepNone;
    if (Value() < max_) enabled |= StepUpEnabled;
    if (Value() > min_) enabled |= StepDownEnabled;
    return enabled;
}

bool TSpinEdit::Allowed(QChar c) const {
    return c.isDigit() || c == u'+' || c == u'-' || c == QLocale().decimalPoint().front();
}

QValidator::State TSpinEdit::validate(QString& input, int&) const {
    return std::all_of(input.cbegin(), input.cend(), [this](QChar c) { return Allowed(c); })
               ? QValidator::Acceptable
               : QValidator::Invalid;
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept(); // refused: it neither changes the field nor reaches the dialog
        return;
    default:
        break;
    }
    const QString typed = event->text();
    if (!typed.isEmpty() && typed.front().isPrint() && !Allowed(typed.front())) {
        event->accept();
        return;
    }
    QAbstractSpinBox::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
    SetValue(Value());
    QAbstractSpinBox::focusOutEvent(event);
}

} // namespace sorowa::platform
