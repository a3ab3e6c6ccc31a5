#include "midi/cmpRiffStream.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "midi/SmfBytes.h"

using namespace vozaro::midi;
using namespace vozaro::midi::fixtures;
namespace fs = std::filesystem;

namespace {

class RiffStream : public ::testing::Test {
protected:
    std::string file(const std::string& name, const Bytes& bytes) { return folder_.file(name, bytes); }
    TempFolder folder_{"vozaro-riff"};
    const fs::path& dir_ = folder_.path();
};

std::string descendError(TRiffStream& s, const std::string& id, std::uint32_t flags) {
    try {
        s.Descend(id, flags);
    } catch (const RiffError& e) {
        return e.what();
    }
    return "descended";
}

}  // namespace

TEST(RiffChunkInfo, IdsAndTheirLength) {
    EXPECT_EQ(TRiffChunkInfo("RIFF").descriptor().formType, stringToFourCC("RIFF"));
    EXPECT_EQ(TRiffChunkInfo("RIFF").descriptor().chunkId, 0u);
    EXPECT_EQ(TRiffChunkInfo("LIST").descriptor().formType, stringToFourCC("LIST"));
    EXPECT_EQ(TRiffChunkInfo("data").descriptor().chunkId, 0x61746164u);
    EXPECT_EQ(TRiffChunkInfo("").descriptor().chunkId, 0u);
    try {
        TRiffChunkInfo bad("dat");
        FAIL() << "accepted";
    } catch (const RiffError& e) {
        EXPECT_STREQ(e.what(), "RIFF Chunk ID must be four characters long");
    }
}

TEST_F(RiffStream, OpenFailuresNameTheFile) {
    const std::string missing = (dir_ / "missing.rmi").string();
    try {
        TRiffFileStream s(missing, kOpenRead | kShareDenyWrite);
        FAIL() << "opened";
    } catch (const FileOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to open " + missing);
    }
    const std::string nowhere = (dir_ / "no-such-dir" / "new.rmi").string();
    try {
        TRiffFileStream s(nowhere, kCreate);
        FAIL() << "created";
    } catch (const FileCreateError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to create " + nowhere);
    }
}

TEST_F(RiffStream, DescendsIntoTheFirstRiffAndFindsTheDataChunk) {
    // An odd-sized chunk before "data" is followed by its pad byte; a LIST
    // chunk holding a "data" chunk of its own is skipped as a whole.
    const Bytes disp = text("DISP") + le32(3) + Bytes{1, 2, 3, 0};
    const Bytes list = text("LIST") + le32(4 + 8 + 2) + text("INFO") + text("data") + le32(2) + Bytes{9, 9};
    const Bytes song = text("MThd");
    const std::string path = file("song.rmi", rmid(song, disp + list));
    TRiffFileStream s(path, kOpenRead);
    s.Descend("RMID", kFindRiff);
    ASSERT_EQ(s.chunks().size(), 1u);
    EXPECT_EQ(s.chunks()[0]->descriptor().formType, stringToFourCC("RMID"));
    EXPECT_EQ(s.position(), 12);
    s.Descend("data", kFindChunk);
    EXPECT_EQ(s.chunks()[1]->descriptor().chunkSize, 4u);
    std::uint8_t head[4];
    ASSERT_EQ(s.Read(head, 4), 4);
    EXPECT_EQ(std::string(head, head + 4), "MThd");
    // Nothing further inside the data chunk.
    EXPECT_EQ(descendError(s, "data", kFindChunk), "Unable to descend into data");
}

TEST_F(RiffStream, RiffOfAnyFormTypeAndMissingChunks) {
    const std::string wave = file("a.rmi", text("RIFF") + le32(4 + 8 + 2) + text("WAVE") + text("fmt ") + le32(2) + Bytes{0, 0});
    TRiffFileStream s(wave, kOpenRead);
    s.Descend("RMID", kFindRiff);
    EXPECT_EQ(s.chunks()[0]->descriptor().formType, stringToFourCC("WAVE"));
    EXPECT_EQ(descendError(s, "data", kFindChunk), "Unable to descend into data");
    EXPECT_EQ(s.chunks().size(), 1u);

    const std::string plain = file("b.rmi", smf(1, 0, 96, {}));
    TRiffFileStream p(plain, kOpenRead);
    EXPECT_EQ(descendError(p, "RMID", kFindRiff), "Unable to descend into RMID");
}

TEST_F(RiffStream, ReadWriteAndSeekOrigins) {
    const std::string path = (dir_ / "new.riff").string();
    {
        TRiffFileStream s(path, kCreate);
        EXPECT_EQ(s.Write("abcdef", 6), 6);
        EXPECT_EQ(s.Seek(-2, soEnd), 4);
        EXPECT_EQ(s.Seek(-1, soCurrent), 3);
        EXPECT_EQ(s.Seek(1, 7), 1);  // any other origin counts from the beginning
        char c;
        EXPECT_EQ(s.Read(&c, 1), 1);
        EXPECT_EQ(c, 'b');
    }
    TRiffFileStream r(path, kOpenRead);
    char rest[10];
    r.Seek(4, soBeginning);
    EXPECT_EQ(r.Read(rest, 10), 2);
    EXPECT_EQ(r.Write("x", 1), 0);  // opened for reading
}

TEST_F(RiffStream, DescendWithoutSearchAndIntoLists) {
    const Bytes list = text("LIST") + le32(4 + 8 + 2) + text("INFO") + text("INAM") + le32(2) + text("ab");
    const std::string path = file("l.rmi", rmid(text("MThd"), list));
    TRiffFileStream s(path, kOpenRead);
    s.Descend("", 0);  // whatever chunk is at the position
    EXPECT_EQ(s.chunks()[0]->descriptor().chunkId, stringToFourCC("RIFF"));
    // The id "LIST" names the form type, so it looks for a list of type "LIST".
    const std::int64_t start = s.position();
    EXPECT_EQ(descendError(s, "LIST", kFindList), "Unable to descend into LIST");
    s.Seek(start, soBeginning);
    s.Descend("", kFindList);
    EXPECT_EQ(s.chunks()[1]->descriptor().formType, stringToFourCC("INFO"));
    EXPECT_EQ(s.chunks()[1]->descriptor().dataOffset, 20u);
    s.Descend("INAM", kFindChunk);
    char name[2];
    ASSERT_EQ(s.Read(name, 2), 2);
    EXPECT_EQ(std::string(name, 2), "ab");
    EXPECT_EQ(s.chunks().size(), 3u);
}
