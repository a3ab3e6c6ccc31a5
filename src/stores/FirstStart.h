// The first start: a new program folder gets the songs, pictures and sounds
// that come with Vozaro, so that a fresh install has songs to sing at once.
//
// The content is installed once per program folder, at the first start that
// finds it not installed yet, and never again, so that what the host removes
// stays removed (removing "nota.wav" silences the fanfare).  The marker file
// "vozaro.ins" in the program folder remembers it:
//   "pendente"   the album was made before any start installed the content
//                (by vozaro-importar, by a check): the next start installs it;
//   "instalado"  installed (or a folder older than the marker): never again.
// Whatever makes a new album makes the marker "pendente" unless a marker is
// there already (AbrirAlbum calls noteNewAlbum).  A program folder with an
// album and no marker comes from before the marker: its first start
// installed the content then, so it gets nothing and the marker "instalado".
//
// Installing, after the start-up check: the bundled songs are copied into the
// songs folder and catalogued with the next free numbers (1 to N in a new
// folder) in the order of the content's song list ("musicas.tsv": file name,
// performer, title, tab-separated UTF-8), the pictures are copied into the
// pictures folder, and "config.mid" and "nota.wav" into the program folder.
// A file the user already has under the same name (compared without regard
// to case) is never overwritten; a song is then catalogued only when that
// file is byte for byte the bundled one, and a song whose file is catalogued
// already (an import took it) is not catalogued twice.
//
// thread: user-interface thread only, like the rest of the catalogue.
#pragma once

#include <filesystem>
#include <optional>

namespace vozaro::catalogue {

// Where the bundled content lies (platform::findContentFolder()); set by the
// program entry.  While none is set, installBundledContent does nothing, so
// tests and tools that create a stage are left with an empty catalogue.
void setContentFolder(std::optional<std::filesystem::path> folder);
const std::optional<std::filesystem::path>& contentFolder();

// The marker file's name in the program folder.
inline constexpr const char* kContentMarker = "vozaro.ins";

// A new album file has just been made in the program folder: unless the
// folder has a marker, the content is due ("pendente").
void noteNewAlbum();

// True while the program folder's content is not installed: the marker says
// "pendente", or there is neither marker nor album.
bool bundledContentDue();

// When the content is due, copies and catalogues it as described above and
// marks the folder "instalado"; returns the number of songs catalogued.  A
// folder with an album and no marker is only marked.  A file that cannot be
// copied or an entry that cannot be written is skipped; the catalogue keeps
// what was written.  Call it under the writer lock.
int installBundledContent();

}  // namespace vozaro::catalogue
