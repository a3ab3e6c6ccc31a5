// Where the bundled content is found: beside the program's folder (an
// install prefix or the build tree), else in the XDG data folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "platform/ContentFolder.h"

namespace fs = std::filesystem;
using vozaro::platform::findContentFolder;

namespace {

class ContentFolder : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "vozaro-content-XXXXXX").string();
        root = ::mkdtemp(pattern.data());
    }
    void TearDown() override { fs::remove_all(root); }

    // A folder holding the song list, as an install or a build leaves it.
    fs::path content(const fs::path& folder) {
        fs::create_directories(folder);
        std::ofstream(folder / vozaro::platform::kBundledSongList) << "a.kar\tTradicional\tA\n";
        return folder;
    }

    fs::path root;
};

}  // namespace

TEST_F(ContentFolder, BesideTheProgramFirstThenTheDataFolders) {
    const fs::path program = root / "prefix" / "bin" / "vozaro";
    const fs::path system = content(root / "usr" / "share" / "vozaro");
    const std::string dirs = "relative/share:" + (root / "none").string() + ":" + (root / "usr" / "share").string();

    EXPECT_EQ(findContentFolder(program, dirs.c_str()), system);
    const fs::path beside = content(root / "prefix" / "share" / "vozaro");
    EXPECT_EQ(findContentFolder(program, dirs.c_str()), beside);
}

TEST_F(ContentFolder, AFolderWithoutTheSongListDoesNotCount) {
    fs::create_directories(root / "prefix" / "share" / "vozaro" / "Musicas");
    fs::create_directories(root / "vozaro");
    const std::string dirs = root.string();
    EXPECT_EQ(findContentFolder(root / "prefix" / "bin" / "vozaro", dirs.c_str()), std::nullopt);
    EXPECT_EQ(findContentFolder(fs::path(), dirs.c_str()), std::nullopt);
}
