#include "platform/Paths.h"

#include <QString>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace vozaro::platform {

namespace {

constexpr const char* kAlbumFileName = "vozaro.alb";

QString foldedName(std::string_view name) {
    return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).toCaseFolded();
}

fs::path dataHome() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/')
        return fs::path(xdg);
    const char* home = std::getenv("HOME");
    if (home && *home)
        return fs::path(home) / ".local" / "share";
    return fs::temp_directory_path();
}

// Names of a folder's entries whose folded form equals `folded`, sorted.
std::vector<std::string> matchingNames(const fs::path& folder, const QString& folded, std::error_code& ec) {
    std::vector<std::string> names;
    ec.clear();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (foldedName(name) == folded)
            names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

// folder / name when the folder has an entry of exactly that name.
std::optional<fs::path> exactEntry(const fs::path& folder, std::string_view name) {
    std::error_code ec;
    fs::path exact = folder / fs::path(std::string(name));
    if (fs::exists(fs::symlink_status(exact, ec)))
        return exact;
    return std::nullopt;
}

}  // namespace

fs::path runningProgramFile() {
    std::error_code ec;
    fs::path file = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : file;
}

fs::path findProgramFolder(const fs::path& programFile) {
    std::error_code ec;
    if (!programFile.empty()) {
        fs::path folder = programFile.parent_path();
        if (fs::is_regular_file(folder / kAlbumFileName, ec))
            return folder;
    }
    fs::path folder = dataHome() / "vozaro";
    fs::create_directories(folder, ec);
    return folder;
}

fs::path findProgramFolder() { return findProgramFolder(runningProgramFile()); }

std::string foldedFileName(std::string_view name) { return foldedName(name).toStdString(); }

bool sameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a == b)
        return true;
    return foldedName(a) == foldedName(b);
}

std::optional<fs::path> findIgnoringCase(const fs::path& folder, std::string_view name) {
    if (std::optional<fs::path> exact = exactEntry(folder, name))
        return exact;
    std::error_code unlisted;
    std::vector<std::string> names = matchingNames(folder, foldedName(name), unlisted);
    if (names.empty())
        return std::nullopt;
    return folder / names.front();
}

fs::path subfolderIgnoringCase(const fs::path& parent, std::string_view name) {
    std::error_code unlisted;
    return subfolderIgnoringCase(parent, name, unlisted);
}

fs::path subfolderIgnoringCase(const fs::path& parent, std::string_view name, std::error_code& error) {
    error.clear();
    std::error_code ec;
    fs::path exact = parent / fs::path(std::string(name));
    if (fs::is_directory(exact, ec))
        return exact;
    for (const std::string& candidate : matchingNames(parent, foldedName(name), error))
        if (fs::is_directory(parent / candidate, ec))
            return parent / candidate;
    return exact;
}

struct FolderNames::Listing {
    std::map<QString, std::string> byFoldedName;  // the first name in sorted order wins
};

FolderNames::FolderNames(fs::path folder) : folder_(std::move(folder)) {}

FolderNames::~FolderNames() {
    if (folderFd_ >= 0)
        ::close(folderFd_);
}

bool FolderNames::isRegularFile(std::string_view name) {
    if (name.empty() || name.find('/') != std::string_view::npos)
        return false;  // not an entry of this folder
    if (folderFd_ == -2)
        folderFd_ = ::open(folder_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ >= 0) {
        struct stat status {};
        if (::fstatat(folderFd_, std::string(name).c_str(), &status, 0) == 0)
            return S_ISREG(status.st_mode);
        if (errno != ENOENT)
            return false;
    }
    // Not there under its exact name (or the folder could not be opened):
    // another case of it, or a link that leads nowhere.
    std::optional<fs::path> entry = find(name);
    std::error_code ec;
    return entry && fs::is_regular_file(*entry, ec);
}

std::optional<fs::path> FolderNames::find(std::string_view name) {
    if (std::optional<fs::path> exact = exactEntry(folder_, name))
        return exact;  // the folder need not be listed
    if (!listing_) {
        listing_ = std::make_unique<Listing>();
        std::vector<std::string> names;
        std::error_code ec;
        for (fs::directory_iterator it(folder_, ec), end; !ec && it != end; it.increment(ec))
            names.push_back(it->path().filename().string());
        std::sort(names.begin(), names.end());
        for (std::string& n : names)
            listing_->byFoldedName.emplace(foldedName(n), std::move(n));
    }
    auto it = listing_->byFoldedName.find(foldedName(name));
    if (it == listing_->byFoldedName.end())
        return std::nullopt;
    return folder_ / it->second;
}

void FolderNames::add(const std::string& name) {
    if (listing_)
        listing_->byFoldedName.emplace(foldedName(name), name);
}

}  // namespace vozaro::platform
