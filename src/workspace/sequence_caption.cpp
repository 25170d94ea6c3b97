#include "workspace/sequence_caption.h"

namespace sorowa {

std::optional<int> SequenceCaption::Number() const {
    bool ok = false;
    const int value = numberText.toInt(&ok, 10);
    if (!ok) return std::nullopt;
    return value;
}

QString BuildSequenceCaption(const QString& numberText, const QString& fileName) {
    return numberText + u';' + fileName;
}

std::optional<SequenceCaption> ReadSequenceCaption(const QString& caption) {
    const qsizetype separator = caption.indexOf(u';');
    if (separator < 0) return std::nullopt;
    return SequenceCaption{caption.left(separator), caption.mid(separator + 1)};
}

} // namespace sorowa
