#include "rename/numbered_name.h"

#include "platform/errors.h"

namespace sorowa {

std::vector<int> SequenceOrder(const std::vector<TNumberedName>& files) {
    const int count = static_cast<int>(files.size());
    std::vector<int> byNumber(files.size(), -1);
    for (int i = 0; i < count; ++i) {
        const int number = files[i].number;
        if (number < 1 || number > count) continue;
        int& slot = byNumber[static_cast<std::size_t>(number - 1)];
        if (slot < 0) slot = i; // the first file with the number
    }
    for (int n = 1; n <= count; ++n)
        if (byNumber[static_cast<std::size_t>(n - 1)] < 0)
            throw Exception(QStringLiteral("番号 %1 のサムネイルが見つかりません").arg(n));
    return byNumber;
}

} // namespace sorowa
