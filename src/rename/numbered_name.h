#pragma once
// The files of a rename as the caller shows them: each with its place in the sequence and its
// bare file name, in any order. Results that concern a file name it by its index in this list.

#include <QString>
#include <vector>

namespace sorowa {

struct TNumberedName {
    int number = 0; // its place in the sequence, 1..N; anything else: none
    QString name;   // bare name within the folder
};

// The indexes into files in sequence order: for each of the numbers 1..N (N files), the first
// file that carries it. Throws Exception when no file carries one of them.
std::vector<int> SequenceOrder(const std::vector<TNumberedName>& files);

} // namespace sorowa
