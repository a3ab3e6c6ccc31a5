// Stopping a song closes one port per track.  The wait for system exclusive
// buffers that closing a device takes (50 ms by default) must be paid once
// per device, not once per track: a song of 2,000 tracks would otherwise
// freeze the stage for 100 s at every stop.  The recording devices note each
// wait instead of sleeping it.
#include <gtest/gtest.h>

#include "PlayerTestDevices.h"
#include "SmfBytes.h"
#include "midi/cmpMidiData.h"
#include "midi/cmpTrackOutputs.h"

#include <filesystem>
#include <string>

using namespace vozaro::midi;
using namespace vozaro::midi::fixtures;

namespace {

// A song of `tracks` tracks, each sounding one note on its own channel when
// it is played from the start.
Bytes songOfTracks(int tracks) {
    Bytes chunks;
    for (int t = 0; t < tracks; ++t) {
        const auto channel = static_cast<std::uint8_t>(t % 16);
        chunks = chunks + track(Bytes{0x00, static_cast<std::uint8_t>(0x90 | channel), 60, 100} + endOfTrack(10));
    }
    return smf(1, static_cast<std::uint16_t>(tracks), 96, chunks);
}

struct StopCase {
    const char* name;
    int tracks;              // a made song of this many tracks, or
    const char* corpusSong;  // a real song
};

}  // namespace

TEST(StoppingASong, WaitsForSystemExclusiveOncePerDeviceWhateverTheTracks) {
    const StopCase cases[] = {
        {"one track", 1, nullptr},
        {"34 tracks", 0, "files/kar/msc__BRITNEY_SPEARS_Baby_One_More_Time.kar"},
        {"2,000 tracks", 2000, nullptr},
    };
    TempFolder folder("vozaro-stop-waits");
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path;
        if (c.corpusSong) {
            path = (std::filesystem::path(VOZARO_CORPUS_DIR) / c.corpusSong).string();
            if (!std::filesystem::exists(path)) {
                std::printf("corpus song not found, case skipped: %s\n", path.c_str());
                continue;
            }
        } else {
            path = folder.file(std::string(c.name) + ".mid", songOfTracks(c.tracks));
        }
        vozaro::test::RecordingDevices devices;
        TMidiData song;
        song.setFileName(path);
        song.setActive(true);
        ASSERT_GT(song.TrackCount(), 0);
        TTrackOutputs outputs;
        outputs.setMidiData(&song);
        outputs.setActive(true);
        // Every port has a note sounding, so each has something to silence.
        for (std::int32_t i = 0; i < outputs.Count(); ++i)
            outputs.Outputs(i)->Port()->SendEvent(TEventData{0x90, 64, 100, 0, 0});
        ASSERT_EQ(outputs.Outputs(0)->Port()->SysexLatency(), 50);

        outputs.setActive(false);  // what a stop does

        EXPECT_EQ(devices.recorder->waits(0), 1);
        EXPECT_EQ(devices.recorder->openHandles(0), 0);
        // The notes are silenced before the device closes.
        const auto events = devices.recorder->events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2].kind, vozaro::platform::RecordedMidiEvent::Kind::Wait);
        EXPECT_EQ(events[events.size() - 2].message, 50u);
        EXPECT_EQ(events.back().kind, vozaro::platform::RecordedMidiEvent::Kind::Close);
    }
}

TEST(StoppingASong, PortsOnTwoDevicesWaitOnceEach) {
    vozaro::test::RecordingDevices devices;
    {
        TMidiOutputPort a1, a2, b1;
        a1.setPortId(0);
        a2.setPortId(0);
        b1.setPortId(1);
        for (TMidiOutputPort* port : {&a1, &a2, &b1})
            port->setActive(true);
        // Deactivating without destroying (a device change) does not wait.
        b1.setActive(false);
        EXPECT_EQ(devices.recorder->waits(1), 0);
        b1.setActive(true);
    }
    EXPECT_EQ(devices.recorder->waits(0), 1);
    EXPECT_EQ(devices.recorder->waits(1), 1);
}
