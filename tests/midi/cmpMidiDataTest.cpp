#include "midi/cmpMidiData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "midi/SmfBytes.h"
#include "midi/cmpRiffStream.h"

using namespace vozaro::midi;
using namespace vozaro::midi::fixtures;
namespace fs = std::filesystem;

namespace {

const Bytes kNoteTrack = track(vlq(0) + Bytes{0xC2, 5} + vlq(0) + Bytes{0x92, 60, 90} + vlq(96) +
                               Bytes{0x92, 60, 0} + endOfTrack());

class MidiData : public ::testing::Test {
protected:
    std::string file(const std::string& name, const Bytes& bytes) { return folder_.file(name, bytes); }
    // Reloads song from path; returns "" or the error message.
    static std::string load(TMidiData& song, const std::string& path) {
        song.setActive(false);
        song.setFileName(path);
        try {
            song.setActive(true);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "";
    }
    TempFolder folder_{"vozaro-mididata"};
    const fs::path& dir_ = folder_.path();
};

void expectClosed(const TMidiData& song) {
    EXPECT_FALSE(song.Active());
    EXPECT_EQ(song.TrackCount(), 0);
    EXPECT_EQ(song.PPQN(), 180);
    EXPECT_EQ(song.format(), 1);
    EXPECT_EQ(song.headerTrackCount(), 0);
    EXPECT_TRUE(song.headerExtra().empty());
}

}  // namespace

TEST_F(MidiData, DefaultsAndEmptySong) {
    TMidiData song;
    expectClosed(song);
    song.setActive(true);
    EXPECT_TRUE(song.Active());
    EXPECT_EQ(song.TrackCount(), 0);
    EXPECT_EQ(song.PPQN(), 180);
    EXPECT_EQ(song.Tracks(0), nullptr);
    song.setActive(false);
    EXPECT_FALSE(song.Active());
}

TEST_F(MidiData, LoadsPlainSongsAndHeaderWords) {
    TMidiData song;
    ASSERT_EQ(load(song, file("a.kar", smf(1, 2, 0xE728, kNoteTrack + kNoteTrack))), "");
    EXPECT_TRUE(song.Active());
    EXPECT_EQ(song.format(), 1);
    EXPECT_EQ(song.headerTrackCount(), 2);
    EXPECT_EQ(song.PPQN(), 0xE728);  // an SMPTE division is used as it stands
    ASSERT_EQ(song.TrackCount(), 2);
    EXPECT_EQ(song.Tracks(2), nullptr);
    EXPECT_EQ(song.Tracks(-1), nullptr);
    const TMidiTrackStream& t = *song.Tracks(1);
    EXPECT_EQ(t.EventCount(), 4);
    EXPECT_EQ(t.FirstProgram(), 5);
    EXPECT_EQ(t.FirstChannel(), 2);
    EXPECT_EQ(t.partnerOf(t.Event(1)), t.Event(2));
    EXPECT_FALSE(song.Modified());
    EXPECT_FALSE(t.Modified());
    EXPECT_EQ(song.FileName(), (dir_ / "a.kar").string());
    EXPECT_FALSE(song.isRiff());
    // Setting Active again does nothing; false releases everything.
    song.setActive(true);
    EXPECT_EQ(song.TrackCount(), 2);
    song.setActive(false);
    expectClosed(song);
}

TEST_F(MidiData, HeaderLengths) {
    TMidiData song;
    ASSERT_EQ(load(song, file("six.mid", smf(0, 1, 96, kNoteTrack))), "");
    EXPECT_TRUE(song.headerExtra().empty());
    ASSERT_EQ(load(song, file("ten.mid", smf(0, 1, 96, kNoteTrack, {1, 2, 3, 4}))), "");
    EXPECT_EQ(song.headerExtra(), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(song.TrackCount(), 1);

    Bytes five = smf(0, 1, 96, kNoteTrack);
    five[7] = 5;
    EXPECT_EQ(load(song, file("five.mid", five)), "Invalid MIDI header size");
    expectClosed(song);
    Bytes huge = smf(0, 1, 96, kNoteTrack);
    huge[4] = 0x80;
    EXPECT_EQ(load(song, file("huge.mid", huge)), "Invalid MIDI header size");
    EXPECT_EQ(load(song, file("id.mid", text("RIFF") + Bytes(20, 0))), "Invalid MIDI file ID");
    EXPECT_EQ(load(song, file("short.mid", text("MThd") + be32(6) + Bytes{0, 1})), "Stream read error");
    // Extra header bytes the file does not have are a short read, read
    // without first allocating what the length claims.
    EXPECT_EQ(load(song, file("extra.mid", text("MThd") + be32(0x7FFFFFF0) + Bytes{0, 2, 0, 1, 0, 96})),
              "Stream read error");
    EXPECT_EQ(song.format(), 2);  // the header fields read so far stay
    EXPECT_FALSE(song.Active());
}

TEST_F(MidiData, TrackCountFromTheHeader) {
    TMidiData song;
    ASSERT_EQ(load(song, file("zero.mid", smf(1, 0, 96, kNoteTrack))), "");
    EXPECT_TRUE(song.Active());
    EXPECT_EQ(song.TrackCount(), 0);
    ASSERT_EQ(load(song, file("fewer.mid", smf(1, 1, 96, kNoteTrack + kNoteTrack + text("junk")))), "");
    EXPECT_EQ(song.TrackCount(), 1);
}

TEST_F(MidiData, FailedTrackLeavesTheSongClosed) {
    TMidiData song;
    EXPECT_EQ(load(song, file("bad.mid", smf(1, 2, 96, kNoteTrack + track(Bytes{0x00, 60, 1})))),
              "Error in Running Status");
    expectClosed(song);
    EXPECT_EQ(load(song, file("missing-track.mid", smf(1, 3, 96, kNoteTrack))), "Stream read error");
    expectClosed(song);
    EXPECT_EQ(load(song, file("alien.mid", smf(1, 1, 96, text("XFIH") + be32(0)))), "Invalid track start ID");
    expectClosed(song);
    // A forged chunk length is refused before anything is allocated for it.
    EXPECT_EQ(load(song, file("long.mid", smf(1, 1, 96, text("MTrk") + be32(0xFFFFFFF0)))),
              "Stream read error");
    expectClosed(song);
}

TEST_F(MidiData, MissingFileNamesIt) {
    TMidiData song;
    const std::string path = (dir_ / "nada.kar").string();
    try {
        song.setFileName(path);
        song.setActive(true);
        FAIL() << "opened";
    } catch (const FileOpenError& e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
    }
    expectClosed(song);
}

TEST_F(MidiData, RiffSongsByExtensionInAnyCase) {
    const Bytes song = smf(1, 1, 120, kNoteTrack);
    const Bytes disp = text("DISP") + le32(5) + text("hello") + Bytes{0};
    for (const std::string name : {"song.rmi", "Song.RMI", "other.Riff"}) {
        TMidiData data;
        const std::string path = file(name, rmid(song, disp));
        ASSERT_EQ(load(data, path), "") << name;
        EXPECT_TRUE(data.isRiff());
        EXPECT_EQ(data.PPQN(), 120);
        EXPECT_EQ(data.TrackCount(), 1);
        const std::string stem = path.substr(0, path.rfind('.'));
        EXPECT_EQ(data.FileName(), stem + ".MID");
    }
    TMidiData data;
    EXPECT_EQ(load(data, file("plain.mid", rmid(song))), "Invalid MIDI file ID");
    EXPECT_EQ(load(data, file("plain.rmi", song)), "Unable to descend into RMID");
    EXPECT_EQ(load(data, file("nodata.rmi", text("RIFF") + le32(4) + text("RMID"))), "Unable to descend into data");
    EXPECT_FALSE(data.Active());
    // A dot in a folder name is not an extension.
    fs::create_directories(dir_ / "x.rmi");
    EXPECT_EQ(load(data, file("x.rmi/song", song)), "");
    EXPECT_FALSE(data.isRiff());
}

TEST_F(MidiData, ModifiedFollowsPpqnChanges) {
    TMidiData song;
    ASSERT_EQ(load(song, file("m.mid", smf(1, 1, 96, kNoteTrack))), "");
    song.setPPQN(96);
    EXPECT_FALSE(song.Modified());
    song.setPPQN(0x10061);  // low 16 bits
    EXPECT_TRUE(song.Modified());
    EXPECT_EQ(song.PPQN(), 0x61);
    song.setPPQN(192);
    EXPECT_EQ(song.PPQN(), 192);
    song.Tracks(0)->AddMetaEvent(0, 0x01, 0, nullptr);
    EXPECT_TRUE(song.Tracks(0)->Modified());
    song.ClearModified();
    EXPECT_FALSE(song.Modified());
    EXPECT_FALSE(song.Tracks(0)->Modified());
    song.Close();
    expectClosed(song);
}

// Every song of the shared corpus loads, or is refused with the error its
// fault calls for.  A refused song is left closed.
TEST(MidiDataCorpus, EveryFileLoadsOrIsRefusedAsExpected) {
    const fs::path files = fs::path(VOZARO_CORPUS_DIR) / "files";
    if (!fs::is_directory(files))
        GTEST_SKIP() << "corpus folder " << files << " is absent";
    // Files a correct reader accepts that this one refuses by its own rules.
    const std::map<std::string, std::string> refused = {
        {"mid/drywetmidi__Ef_-_A_Tale_of_Memories_-_Eternal_Feather.mid", "Size exceeds capacity"},
        {"mid/midiasm__reference.mid", "Error in Sysex"},
        {"rmi/drywetmidi__Chop_Suey.mid", "Invalid MIDI file ID"},  // RIFF named .mid
        {"rmi/drywetmidi__Feuerradder.mid", "Invalid MIDI file ID"},
        {"rmi/drywetmidi__semi_charmed_life.mid", "Invalid MIDI file ID"},
        {"rmi/drywetmidi__serah.mid", "Invalid MIDI file ID"},
    };
    int loaded = 0, refusals = 0;
    for (const auto& category : fs::directory_iterator(files)) {
        for (const auto& entry : fs::directory_iterator(category.path())) {
            const std::string rel = category.path().filename().string() + "/" + entry.path().filename().string();
            TMidiData song;
            song.setFileName(entry.path().string());
            std::string error;
            try {
                song.setActive(true);
            } catch (const std::exception& e) {
                error = e.what();
            }
            if (error.empty()) {
                ++loaded;
                EXPECT_TRUE(song.Active()) << rel;
                EXPECT_EQ(song.TrackCount(), song.headerTrackCount()) << rel;
                for (int t = 0; t < song.TrackCount(); ++t) {
                    const TMidiTrackStream& track = *song.Tracks(t);
                    const TTrackEvent* last = track.Event(track.EventCount() - 1);
                    ASSERT_NE(last, nullptr) << rel;
                    EXPECT_EQ(last->Message.Status, 0xFF) << rel << " track " << t;
                }
            } else {
                ++refusals;
                EXPECT_FALSE(song.Active()) << rel;
                EXPECT_EQ(song.TrackCount(), 0) << rel;
            }
            const auto expected = refused.find(rel);
            if (expected != refused.end()) {
                EXPECT_EQ(error, expected->second) << rel;
            } else if (category.path().filename() != "malformed") {
                EXPECT_EQ(error, "") << rel;
            }
        }
    }
    EXPECT_GT(loaded, 100);
    EXPECT_GT(refusals, 30);
}
