// Where the program keeps its files, and file names compared without regard
// to case, as the catalogue expects of them.
//
// The program folder is the folder of the running program file when that
// folder holds "vozaro.alb" (a portable install), otherwise
// $XDG_DATA_HOME/vozaro/ (by default ~/.local/share/vozaro/), created when it
// does not exist yet.  Every path of the program is built from it.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace vozaro::platform {

// The running program file (/proc/self/exe); empty when it cannot be read.
std::filesystem::path runningProgramFile();

// Applies the folder rule to a program file and the environment; creates the
// data folder when the rule picks it (a failure to create it is left for the
// first file operation to report).
std::filesystem::path findProgramFolder(const std::filesystem::path& programFile);

// The rule applied to the running program.
std::filesystem::path findProgramFolder();

// True when two UTF-8 file names are equal without regard to case (also for
// accented letters, "MÚSICA.KAR" and "música.kar").
bool sameNameIgnoringCase(std::string_view a, std::string_view b);

// A UTF-8 file name folded for comparing without regard to case: two names
// are the same by sameNameIgnoringCase exactly when their folded forms are
// equal.  For sets and maps of names.
std::string foldedFileName(std::string_view name);

// The entry of `folder` named `name` without regard to case: the exact name
// when it exists, else the first matching name in the folder (in sorted
// order, so the choice is stable); std::nullopt when there is none.
std::optional<std::filesystem::path> findIgnoringCase(const std::filesystem::path& folder,
                                                      std::string_view name);

// The folder `name` inside `parent`, whatever the case of its name on disk;
// parent / name when none exists (the caller creates it).
std::filesystem::path subfolderIgnoringCase(const std::filesystem::path& parent,
                                            std::string_view name);
// The same, and `error` says why `parent` could not be listed (no descriptor
// left, say): the folder may then exist under another case of its name, and
// must not be made anew.
std::filesystem::path subfolderIgnoringCase(const std::filesystem::path& parent, std::string_view name,
                                            std::error_code& error);

// The names of one folder's entries, listed once and looked up without regard
// to case.  For walks that look up many names in the same folder.
class FolderNames {
public:
    explicit FolderNames(std::filesystem::path folder);
    ~FolderNames();
    FolderNames(const FolderNames&) = delete;
    FolderNames& operator=(const FolderNames&) = delete;

    // The folder's entry named `name`, as findIgnoringCase finds it: the exact
    // name when it exists, else the first matching name without regard to case
    // as the folder was when it was first listed (only when first needed).
    std::optional<std::filesystem::path> find(std::string_view name);
    // Tells the listing about an entry made after it was listed.
    void add(const std::string& name);
    // The entry find() finds for a file name is a regular file, or a link to
    // one; false for a name with a folder in it.  The exact name costs one status look-up
    // relative to the folder, not a walk of the whole path; other names are
    // looked for as find() looks.
    bool isRegularFile(std::string_view name);

private:
    struct Listing;
    std::filesystem::path folder_;
    std::unique_ptr<Listing> listing_;
    int folderFd_ = -2;  // opened on first use; -1 when it cannot be
};

}  // namespace vozaro::platform
