// Real songs played through the player on the manual timer: every channel
// message of every track leaves once, in the track's order, at the first
// tick past its time, and the player stops by itself at the end.
#include "midi/cmpMidiPlayer.h"
#include "support/ManualTimerService.h"
#include "PlayerTestDevices.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace vozaro::midi;

namespace {

struct Sent {
    std::uint8_t status, data1, data2;
    std::int64_t position;      // the position that sent it
    std::int64_t lastPosition;  // the position of the tick before
};

void playThrough(const std::string& relativePath, int percent) {
    std::filesystem::path path = std::filesystem::path(VOZARO_CORPUS_DIR) / relativePath;
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "corpus file not found: " << path;
    vozaro::test::RecordingDevices devices;
    TMidiData song;
    song.setFileName(path.string());
    song.setActive(true);
    TTrackOutputs outputs;
    outputs.setMidiData(&song);
    outputs.setActive(true);

    std::vector<std::vector<Sent>> sent(static_cast<std::size_t>(song.TrackCount()));
    std::int64_t lastPosition = 0;
    outputs.OnEvent = [&](TMidiIterator* iterator, std::int32_t port, const TEventData& data) {
        sent[static_cast<std::size_t>(port)].push_back(
            {data.Status, data.Data1, data.Data2, iterator->Position(), lastPosition});
    };
    vozaro::platform::ManualTimerService timers;
    TMidiPlayer player(timers);
    bool stopped = false;
    player.OnStop = [&](TMidiPlayer*) { stopped = true; };
    player.setTempoPercent(percent);
    player.setTrackOutputs(&outputs);
    player.setPlay(true);
    for (int ms = 0; ms < 60 * 60 * 1000 && !stopped; ms += 4) {
        lastPosition = player.Position();
        timers.advance(4);
    }
    ASSERT_TRUE(stopped);

    for (std::int32_t t = 0; t < song.TrackCount(); ++t) {
        const TMidiTrackStream& track = *song.Tracks(t);
        const auto& out = sent[static_cast<std::size_t>(t)];
        std::size_t k = 0;
        for (std::int32_t i = 0; i < track.EventCount(); ++i) {
            const TTrackEvent& e = *track.Event(i);
            if (e.Message.Status >= 0xF0)
                continue;
            ASSERT_LT(k, out.size()) << "track " << t << " record " << i << " never sent";
            const Sent& s = out[k++];
            ASSERT_EQ(s.status, e.Message.Status) << "track " << t << " record " << i;
            ASSERT_EQ(s.data1, e.Message.Data1);
            ASSERT_EQ(s.data2, e.Message.Data2);
            ASSERT_LT(e.Time, s.position);
            ASSERT_GE(e.Time, s.lastPosition) << "sent a tick late";
        }
        EXPECT_EQ(k, out.size()) << "track " << t << " sent more than it holds";
    }
    vozaro::test::closeWithoutWaiting(outputs);
}

}  // namespace

TEST(PlayerCorpus, DenseKaraokeSongAtNormalSpeed) {
    playThrough("files/kar/msc__TEARS_FOR_FEARS_Shout.KAR", 100);
}

TEST(PlayerCorpus, SingleTrackSongWithSysexAtDoubleSpeed) {
    playThrough("files/kar/msc__Shakira_-_Eyes_like_yours.kar", 200);
}

TEST(PlayerCorpus, EventsAfterEndOfTrackAtSlowSpeed) {
    playThrough("files/kar/msc__SOUNDGARDEN_Black_Hole_Sun.kar", 75);
}
