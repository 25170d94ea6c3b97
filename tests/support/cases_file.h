#pragma once
// The case lists beside the crafted corpora (tests/data/<format>/cases.tsv, written by each
// folder's make_corpus.py) and lists of the same shape: one case a line, its fields separated
// by tabs; blank lines and lines starting with '#' are left out.

#include <QString>
#include <QStringList>
#include <vector>

namespace sorowa::test {

// The cases of the list at path, each as its fields. A list that cannot be read fails the
// test that asked for it and gives no cases.
std::vector<QStringList> ReadCases(const QString& path);

} // namespace sorowa::test
