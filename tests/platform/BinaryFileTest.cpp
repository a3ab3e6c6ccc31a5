#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/BinaryFile.h"

namespace fs = std::filesystem;
using namespace vozaro::platform;

namespace {

struct Folder {
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "vozaro-file-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~Folder() { fs::remove_all(path); }
    fs::path path;
};

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(BinaryFile, ReadsAndWritesAtOffsetsAndRespectsItsMode) {
    Folder folder;
    fs::path file = folder.path / "a.bin";
    std::error_code error;
    BinaryFile created(file, BinaryFile::Mode::CreateReadWrite, error);
    ASSERT_FALSE(error);
    created.writeAt("world", 5, 6);
    created.writeAt("hello ", 6, 0);
    EXPECT_EQ(created.size(), 11u);
    char buffer[16] = {};
    EXPECT_EQ(created.readAt(buffer, sizeof buffer, 6), 5u);  // short at the end
    EXPECT_EQ(std::string(buffer, 5), "world");

    BinaryFile again(file, BinaryFile::Mode::CreateReadWrite, error);
    EXPECT_EQ(error, std::errc::file_exists);
    EXPECT_FALSE(again.isOpen());
    BinaryFile missing(folder.path / "none", BinaryFile::Mode::ReadWrite, error);
    EXPECT_EQ(error, std::errc::no_such_file_or_directory);
    EXPECT_THROW(missing.size(), std::system_error);
}

TEST(BinaryFile, RewriteReplacesTheTargetOnlyWhenCommitted) {
    Folder folder;
    fs::path target = folder.path / "album", rewrite = folder.path / "album.tmp";
    std::ofstream(target) << "old";
    {
        FileRewrite abandoned(rewrite);
        abandoned.append("new", 3);
    }
    EXPECT_EQ(contents(target), "old");
    EXPECT_FALSE(fs::exists(rewrite));

    std::string big(3 << 20, 'n');  // more than one flush
    FileRewrite rewriter(rewrite);
    rewriter.append(big.data(), big.size());
    rewriter.commit(target);
    EXPECT_EQ(contents(target), big);
    EXPECT_FALSE(fs::exists(rewrite));

    fs::create_directory(folder.path / "dir");
    EXPECT_THROW(FileRewrite(folder.path / "dir"), std::system_error);
    EXPECT_TRUE(fs::is_directory(folder.path / "dir"));
}
