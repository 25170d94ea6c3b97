#pragma once
// The folder-listing mask: which files a folder lists. Built once at start-up from the
// built-in formats and the decoder plug-in files that can be found.

#include "platform/directories.h"

#include <QString>

namespace sorowa {

inline constexpr auto kBaseFolderMask = "*.bmp;*.wmf;*.emf;*.ico;*.jpg;*.gif";

// current directory;Windows directory;system directory
QString PluginSearchPath(const platform::ProgramPlaces& places);

// Looks for fileName first in the current directory, then in each folder of pathList
// (";"-separated, runs of ";" skipped). Returns the path found, or empty.
QString FileSearch(const QString& fileName, const QString& pathList);

// The base mask followed by ";pattern" for each of the seven plug-in files found on
// pathList: what the options dialog shows as found.
QString BuildPluginFileMask(const QString& pathList);

// The plug-in file mask of pathList, then
// ";*.ext" for every other extension the picture registry holds: those of the built-in
// readers (jpeg) and every pattern of every picture plug-in loaded (tiff, heic, webp ...),
// in registration order, each once whatever its letter case.
QString BuildFolderMask(const QString& pathList);
// The same, from a plug-in file mask already built.
QString FolderMaskFrom(const QString& pluginFileMask);

} // namespace sorowa
