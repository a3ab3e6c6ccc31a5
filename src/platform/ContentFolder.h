// Where the content that comes with Vozaro lies: the songs, pictures and
// sounds it puts into a new program folder on its first start.
//
// The folder is "share/vozaro" beside the program's own folder (the program
// file in <prefix>/bin, its content in <prefix>/share/vozaro; the build tree
// is laid out the same way), else "vozaro" in one of the XDG data folders
// ($XDG_DATA_DIRS, by default /usr/local/share and /usr/share).  A folder
// counts only when it holds the list of bundled songs, "musicas.tsv".
#pragma once

#include <filesystem>
#include <optional>

namespace vozaro::platform {

inline constexpr const char* kBundledSongList = "musicas.tsv";

// The content folder for a program file and a value of XDG_DATA_DIRS (null
// for the default); std::nullopt when there is none.
std::optional<std::filesystem::path> findContentFolder(const std::filesystem::path& programFile,
                                                       const char* xdgDataDirs);

// The same for the running program and its environment.
std::optional<std::filesystem::path> findContentFolder();

}  // namespace vozaro::platform
