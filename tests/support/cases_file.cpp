#include "support/cases_file.h"

#include <QFile>
#include <gtest/gtest.h>

namespace sorowa::test {

std::vector<QStringList> ReadCases(const QString& path) {
    std::vector<QStringList> cases;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return cases;
    }
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        cases.push_back(line.split(u'\t'));
    }
    return cases;
}

} // namespace sorowa::test
