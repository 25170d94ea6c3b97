#pragma once
// Folders the program asks the system about, and file existence.

#include <QString>

namespace sorowa::platform {

QString CurrentDirectory();
// Makes path the process's current directory; throws EInOutError when it cannot be entered.
void SetCurrentDirectory(const QString& path);

// Where the program and its machine-wide plug-in folders are. Made once where the program
// starts and handed down to what needs it (the settings file and the help file are named after
// the program file; plug-ins are searched beside it and in the two machine folders), so that
// a test gives its own.
//
// The "Windows directory" and the "system directory" are the two machine-wide folders
// searched for decoder plug-ins:
//   Windows directory: /usr/local/lib/sorowa  (installed by the machine's administrator)
//   system directory:  /usr/lib/sorowa        (installed by the distribution)
struct ProgramPlaces {
    QString programFile; // full path of the program file
    QString windowsDirectory = QStringLiteral("/usr/local/lib/sorowa");
    QString systemDirectory = QStringLiteral("/usr/lib/sorowa");

    // The running program's file (from /proc/self/exe) and the machine's two folders.
    static ProgramPlaces OfThisProgram();
};

// path with the extension of its file name replaced by ext (".INI"), or ext appended when
// the file name has none. A leading dot (a hidden file) is not an extension.
QString ChangeFileExt(const QString& path, const QString& ext);

// True when path names an existing file (not a folder).
bool FileExists(const QString& path);

} // namespace sorowa::platform
