#pragma once
// The caption of a thumbnail window is its place in the sequence: the number, ";", and the
// bare file name. Only the first ";" separates, so file names may hold ";".

#include <QString>
#include <optional>

namespace sorowa {

struct SequenceCaption {
    QString numberText; // text before the first ";"
    QString fileName;   // all text after it
    std::optional<int> Number() const;
};

QString BuildSequenceCaption(const QString& numberText, const QString& fileName);
// Splits a caption; nullopt when it holds no ";" (the initial window's "Form_Grp").
std::optional<SequenceCaption> ReadSequenceCaption(const QString& caption);

} // namespace sorowa
