// The player's timer thread sends through the ports while the user-interface
// thread silences and resets them.  Run under ThreadSanitizer by ./test.sh.
#include <gtest/gtest.h>

#include "midi/cmpMidiOutput.h"
#include "support/RecordingMidiDevices.h"

#include <algorithm>
#include <atomic>
#include <thread>

using namespace vozaro::midi;
using vozaro::platform::RecordingMidiDevices;
using vozaro::platform::ScopedMidiDevices;

TEST(OutputPortThreads, SendingWhileSilencingLosesNoNoteAndSendsNoExtraNoteOff) {
    auto recorder = std::make_shared<RecordingMidiDevices>(2, RecordingMidiDevices::Clock{}, 1 << 20);
    ScopedMidiDevices devices(recorder);
    TMidiOutputPort melody, drums;
    melody.setSysexLatency(0);
    drums.setSysexLatency(0);
    drums.setPortId(1);
    melody.setActive(true);
    drums.setActive(true);

    constexpr int kEvents = 20000;
    std::atomic<bool> playing{true};
    std::thread timer([&] {
        for (int i = 0; i < kEvents; ++i) {
            const auto channel = static_cast<std::uint8_t>(i % 16);
            const auto note = static_cast<std::uint8_t>(40 + i % 37);
            TMidiOutputPort& port = i % 3 ? melody : drums;
            port.SendEvent(TEventData{static_cast<std::uint8_t>(0x90 | channel), note, 100, 0, 0});
            if (i % 7 == 0)
                port.SendEvent(TEventData{static_cast<std::uint8_t>(0x80 | channel), note, 64, 0, 0});
            if (i % 11 == 0)
                port.SendEvent(TEventData{static_cast<std::uint8_t>(0xB0 | channel), 64, 127, 0, 0});
            if (i % 13 == 0)
                port.SendEvent(TEventData{static_cast<std::uint8_t>(0xB0 | channel), 7, 110, 0, 0});
        }
        playing = false;
    });
    int rounds = 0;
    while (playing || rounds == 0) {
        melody.AllNotesOff();
        drums.AllNotesOff();
        melody.ResetControllers();
        drums.SetPatch(static_cast<std::uint8_t>(rounds % 128), 9);
        ++rounds;
    }
    timer.join();
    melody.AllNotesOff();
    drums.AllNotesOff();

    // Replayed in the order the devices received them: every silencing note
    // off (velocity 0; the song's own carry 64) ends a sounding note, and in
    // the end no note is left sounding.
    ASSERT_EQ(recorder->entryCount(), recorder->events().size()) << "the recorder ran out of room";
    int noteOns = 0;
    for (int device = 0; device < 2; ++device) {
        std::vector<int> sounding(16 * 128, 0);
        int superfluous = 0;
        for (std::uint32_t message : recorder->messages(device)) {
            const int index = (message & 0x0F) * 128 + ((message >> 8) & 0x7F);
            if ((message & 0xF0) == 0x90) {
                ++sounding[index];
                ++noteOns;
            } else if ((message & 0xF0) == 0x80) {
                if (sounding[index] > 0)
                    --sounding[index];
                else if ((message >> 16) == 0)
                    ++superfluous;
            }
        }
        EXPECT_EQ(superfluous, 0) << "device " << device;
        EXPECT_EQ(std::count_if(sounding.begin(), sounding.end(), [](int n) { return n != 0; }), 0)
            << "device " << device;
    }
    EXPECT_EQ(noteOns, kEvents);
    for (int channel = 0; channel < 16; ++channel) {
        for (int note = 0; note < 128; ++note) {
            ASSERT_EQ(melody.NoteCounts(channel, note), 0);
            ASSERT_EQ(drums.NoteCounts(channel, note), 0);
        }
        EXPECT_EQ(melody.PhysicalPort()->Controllers(channel, 64), 0);
    }
}
