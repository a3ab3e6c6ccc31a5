// vozaro-checkalbum FOLDER
//
// Runs Vozaro's start-up check of the catalogue kept in FOLDER (the program
// folder holding vozaro.alb, vozaro.idx and Musicas/): entries whose song
// files are gone are removed and their numbers freed, and the list of free
// numbers is repaired should a crash have left it out of step with the album.
// Prints "entries N" with the number of entries left.
//
// Like every writer it takes the catalogue's writer lock of FOLDER first,
// waiting a few seconds for another writer (Vozaro adding or removing a song,
// an import, another check) to finish: when that one goes on, it prints so on
// standard error and exits with 3 without touching the catalogue.  A lock
// that cannot be taken at all (no descriptor left, a lock file that cannot be
// made) prints why and exits with 1.
//
// A catalogue that cannot be opened, or a check that could not rewrite the
// catalogue (a full disk, a folder in the way of a rewrite file), prints its
// message on standard error and exits with 1.
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "stores/vozaro_colecao.h"
#include "platform/MessageBox.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vozaro-checkalbum FOLDER\n");
        return 2;
    }
    vozaro::platform::setMessageResponder([](const vozaro::platform::MessageRequest& request) {
        std::fprintf(stderr, "%s\n", request.text.c_str());
        return vozaro::platform::MessageResult::Ok;
    });
    vozaro::catalogue::setProgramFolder(std::filesystem::path(argv[1]));
    std::error_code refused;
    const auto lock = vozaro::catalogue::lockForWriting(vozaro::catalogue::kWriterWait, &refused);
    if (!lock)
        return refused == std::errc::resource_unavailable_try_again ? 3 : 1;
    if (!vozaro::catalogue::removeMissingSongs() || vozaro::catalogue::lastRewriteFailure())
        return 1;
    if (!AbrirAlbum())
        return 1;
    std::printf("entries %d\n", ContarMusicas());
    FecharAlbum();
    return 0;
}
