#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/Paths.h"

namespace fs = std::filesystem;
using namespace vozaro::platform;

namespace {

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "vozaro-paths-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path_); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

void touch(const fs::path& file) { std::ofstream(file) << "x"; }

}  // namespace

TEST(Paths, PortableFolderWhenTheProgramFolderHoldsTheAlbum) {
    TempFolder program, data;
    ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
    touch(program.path() / "vozaro");
    EXPECT_EQ(findProgramFolder(program.path() / "vozaro"), data.path() / "vozaro");
    EXPECT_TRUE(fs::is_directory(data.path() / "vozaro"));

    touch(program.path() / "vozaro.alb");
    EXPECT_EQ(findProgramFolder(program.path() / "vozaro"), program.path());
}

TEST(Paths, DataFolderFallsBackToHomeWithoutXdg) {
    TempFolder home;
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", home.path().c_str(), 1);
    EXPECT_EQ(findProgramFolder(fs::path()), home.path() / ".local" / "share" / "vozaro");
    EXPECT_TRUE(fs::is_directory(home.path() / ".local" / "share" / "vozaro"));
}

TEST(Paths, SubfolderIsFoundWhateverTheCaseOfItsName) {
    TempFolder parent;
    EXPECT_EQ(subfolderIgnoringCase(parent.path(), "Musicas"), parent.path() / "Musicas");
    touch(parent.path() / "imagens");  // a file, not a folder: not taken
    EXPECT_EQ(subfolderIgnoringCase(parent.path(), "Imagens"), parent.path() / "Imagens");
    fs::create_directory(parent.path() / "MUSICAS");
    EXPECT_EQ(subfolderIgnoringCase(parent.path(), "Musicas"), parent.path() / "MUSICAS");
    fs::create_directory(parent.path() / "Musicas");  // the exact name wins
    EXPECT_EQ(subfolderIgnoringCase(parent.path(), "Musicas"), parent.path() / "Musicas");
}

TEST(Paths, FileNamesMatchWithoutRegardToCaseIncludingAccents) {
    TempFolder folder;
    touch(folder.path() / "MÚSICA Boa.KAR");
    EXPECT_TRUE(sameNameIgnoringCase("música boa.kar", "MÚSICA Boa.KAR"));
    EXPECT_FALSE(sameNameIgnoringCase("musica boa.kar", "MÚSICA Boa.KAR"));
    EXPECT_EQ(findIgnoringCase(folder.path(), "música boa.kar"), folder.path() / "MÚSICA Boa.KAR");
    EXPECT_EQ(findIgnoringCase(folder.path(), "outra.kar"), std::nullopt);

    FolderNames names(folder.path());
    EXPECT_EQ(names.find("MúSiCa BOA.kar"), folder.path() / "MÚSICA Boa.KAR");
    EXPECT_EQ(names.find("outra.kar"), std::nullopt);
    EXPECT_EQ(FolderNames(folder.path() / "missing").find("x"), std::nullopt);
}

TEST(Paths, FolderNamesPreferTheExactNameLikeFindIgnoringCase) {
    TempFolder folder;
    touch(folder.path() / "A.kar");
    touch(folder.path() / "a.kar");
    FolderNames names(folder.path());
    EXPECT_EQ(names.find("a.kar"), folder.path() / "a.kar");
    EXPECT_EQ(names.find("A.KAR"), folder.path() / "A.kar");  // first in sorted order
    EXPECT_EQ(names.find("A.KAR"), findIgnoringCase(folder.path(), "A.KAR"));
    EXPECT_EQ(names.find("a.kar"), findIgnoringCase(folder.path(), "a.kar"));
}

// A song file is there when the name find() finds is a regular file or a
// link to one: under its exact name, in another case, never a folder, a link
// that leads nowhere or a name with a folder in it.
TEST(Paths, FolderNamesTellWhetherANameIsARegularFile) {
    TempFolder folder;
    touch(folder.path() / "Canção.kar");
    fs::create_directory(folder.path() / "pasta.kar");
    fs::create_symlink(folder.path() / "Canção.kar", folder.path() / "ligada.kar");
    fs::create_symlink(folder.path() / "sumiu.kar", folder.path() / "quebrada.kar");
    fs::create_directory(folder.path() / "sub");
    touch(folder.path() / "sub" / "dentro.kar");
    struct Case {
        const char* name;
        bool regular;
    };
    for (const Case& c : {Case{"Canção.kar", true}, Case{"CANÇÃO.KAR", true}, Case{"ligada.kar", true},
                          Case{"LIGADA.kar", true}, Case{"pasta.kar", false}, Case{"quebrada.kar", false},
                          Case{"outra.kar", false}, Case{"sub/dentro.kar", false}, Case{"", false}}) {
        SCOPED_TRACE(c.name);
        FolderNames names(folder.path());
        EXPECT_EQ(names.isRegularFile(c.name), c.regular);
    }
    EXPECT_FALSE(FolderNames(folder.path() / "missing").isRegularFile("Canção.kar"));
}
