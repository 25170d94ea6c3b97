#pragma once
// Opening a file with the application that the desktop associates with it.

#include <QString>

namespace sorowa::platform {

// Opens name (a bare name resolves against the current directory). The result is not
// reported: a file without an associated application simply does not open.
void ShellOpen(const QString& name);

} // namespace sorowa::platform
