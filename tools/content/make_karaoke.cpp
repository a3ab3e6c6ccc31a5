// Compiles the song sources of resources/songs (format: SongSource.h) into
// karaoke MIDI files.
//   make_karaoke SOURCE OUTPUT
//       one song, written to OUTPUT (the configuration window's test song)
//   make_karaoke --catalogue FOLDER LIST SOURCE...
//       every SOURCE into FOLDER under its title (songFileName), and LIST, one
//       line per song in the order given: file name, performer and title
//       separated by tabs, in UTF-8 (the first start catalogues them from it)
// A mistake in a source is reported as "SOURCE:LINE: message", exit status 1.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "SongSource.h"

namespace fs = std::filesystem;
using vozaro::content::CompiledSong;

namespace {

CompiledSong compileFile(const fs::path& source) {
    std::ifstream in(source, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot be read");
    std::string text(std::istreambuf_iterator<char>(in), {});
    return vozaro::content::compileSong(text);
}

void writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

int main(int argc, char** argv) {
    std::string current;
    try {
        if (argc == 3) {
            current = argv[1];
            writeFile(argv[2], compileFile(argv[1]).midi);
            return 0;
        }
        if (argc < 5 || std::string(argv[1]) != "--catalogue") {
            std::fprintf(stderr, "usage: make_karaoke SOURCE OUTPUT\n"
                                 "       make_karaoke --catalogue FOLDER LIST SOURCE...\n");
            return 2;
        }
        const fs::path folder = argv[2];
        fs::create_directories(folder);
        std::string list;
        std::set<std::string> names;
        for (int i = 4; i < argc; ++i) {
            current = argv[i];
            CompiledSong song = compileFile(argv[i]);
            if (song.syllables == 0)
                throw std::runtime_error("a catalogued song needs lyrics");
            const std::string name = vozaro::content::songFileName(song.title);
            if (!names.insert(name).second)
                throw std::runtime_error("another song has the title \"" + song.title + "\"");
            writeFile(folder / name, song.midi);
            list += name + '\t' + song.performer + '\t' + song.title + '\n';
        }
        current = argv[3];
        writeFile(argv[3], std::vector<std::uint8_t>(list.begin(), list.end()));
        return 0;
    } catch (const vozaro::content::SourceError& e) {
        std::fprintf(stderr, "%s:%d: %s\n", current.c_str(), e.line(),
                     e.what() + std::string(e.what()).find(": ") + 2);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", current.c_str(), e.what());
    }
    return 1;
}
