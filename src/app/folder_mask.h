#pragma once
// The folder-listing mask: which files a folder lists. Built once at start-up from the
// built-in formats and the decoder plug-in files that can be found.

#include <QString>

namespace sorowa {

inline constexpr auto kBaseFolderMask = "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif";

// current directory;Windows directory;system directory
QString PluginSearchPath();

// Looks for fileName first in the current directory, then in each folder of pathList
// (";"-separated, runs of ";" skipped). Returns the path found, or empty.
QString FileSearch(const QString& fileName, const QString& pathList);

// The base mask followed by ";pattern" for each plug-in file found on pathList.
QString BuildFolderMask(const QString& pathList);

} // namespace sorowa
