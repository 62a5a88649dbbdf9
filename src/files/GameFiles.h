// Start-up of the file layer for one game. The engine and the author tools
// both call it once they stand in the game folder, so that a name is found
// in the same loose file or archive entry whichever program looks for it.
#pragma once

#include <string>

// The executable name the tools assume for a game: its root archive is
// "velmira.pfs".
constexpr const char* kDefaultExecutableName = "velmira";

// Forgets archives mounted earlier and names the root archive after the
// executable (its base name without extension, plus the archive extension)
// inside the game folder, which must be the current directory. Both paths
// are native (UTF-8, '/').
void StartGameFiles(const std::string& nativeGameFolder, const std::string& nativeExecutablePath);
