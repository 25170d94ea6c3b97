#pragma once
// Folders the program asks the system about, and file existence.
//
// The "Windows directory" and the "system directory" are the two machine-wide folders
// searched for decoder plug-ins:
//   Windows directory: /usr/local/lib/sorowa  (installed by the machine's administrator)
//   system directory:  /usr/lib/sorowa        (installed by the distribution)
// Tests point them elsewhere with the setters below.

#include <QString>

namespace sorowa::platform {

QString CurrentDirectory();
// Makes path the process's current directory; throws EInOutError when it cannot be entered.
void SetCurrentDirectory(const QString& path);

QString WindowsDirectory();
QString SystemDirectory();
void SetWindowsDirectory(const QString& path);
void SetSystemDirectory(const QString& path);

// Full path of the running program file.
QString ProgramFilePath();
void SetProgramFilePath(const QString& path);

// path with the extension of its file name replaced by ext (".INI"), or ext appended when
// the file name has none. A leading dot (a hidden file) is not an extension.
QString ChangeFileExt(const QString& path, const QString& ext);

// True when path names an existing file (not a folder).
bool FileExists(const QString& path);

} // namespace sorowa::platform
