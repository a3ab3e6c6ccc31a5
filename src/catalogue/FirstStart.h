// The first start: a new program folder gets the songs, pictures and sounds
// that come with Vozaro, so that a fresh install has songs to sing at once.
//
// On a start whose program folder has no catalogue yet ("vozaro.alb"), after
// the start-up check has created the empty catalogue, the stage calls
// installBundledContent: the bundled songs are copied into the songs folder
// and catalogued as numbers 1 to N in the order of the content's song list
// ("musicas.tsv": file name, performer, title, tab-separated UTF-8), the
// pictures are copied into the pictures folder, and "config.mid" and
// "nota.wav" into the program folder.  A file the user already has under the
// same name (compared without regard to case) is never overwritten; a song
// is then catalogued only when that file is byte for byte the bundled one.
// A catalogue that already has entries gets no songs.
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

// True while the program folder has no album file: the next start-up check
// creates a new, empty catalogue.
bool catalogueMissing();

// Copies and catalogues the bundled content as described above; returns the
// number of songs catalogued.  A file that cannot be copied or an entry that
// cannot be written is skipped; the catalogue keeps what was written.
int installBundledContent();

}  // namespace vozaro::catalogue
