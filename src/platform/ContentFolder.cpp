#include "platform/ContentFolder.h"

#include <cstdlib>
#include <sstream>
#include <string>
#include <system_error>

#include "platform/Paths.h"

namespace fs = std::filesystem;

namespace vozaro::platform {

namespace {

bool holdsContent(const fs::path& folder) {
    std::error_code ec;
    return fs::is_regular_file(folder / kBundledSongList, ec);
}

}  // namespace

std::optional<fs::path> findContentFolder(const fs::path& programFile, const char* xdgDataDirs) {
    if (!programFile.empty()) {
        fs::path beside = programFile.parent_path().parent_path() / "share" / "vozaro";
        if (holdsContent(beside))
            return beside.lexically_normal();
    }
    std::istringstream dirs(xdgDataDirs && *xdgDataDirs ? xdgDataDirs : "/usr/local/share:/usr/share");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        // Relative entries are not meant to be used, as the XDG rules say.
        if (!dir.empty() && dir.front() == '/' && holdsContent(fs::path(dir) / "vozaro"))
            return fs::path(dir) / "vozaro";
    }
    return std::nullopt;
}

std::optional<fs::path> findContentFolder() {
    return findContentFolder(runningProgramFile(), std::getenv("XDG_DATA_DIRS"));
}

}  // namespace vozaro::platform
