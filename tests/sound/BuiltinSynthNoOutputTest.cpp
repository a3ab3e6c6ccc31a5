// The built-in synthesizer on a machine whose sound output cannot be opened:
// the port reports "Unable to open port" and stays inactive.
#include <gtest/gtest.h>

#include "midi/cmpMidiOutput.h"

#include <cstdlib>
#include <optional>
#include <string>

using namespace vozaro::midi;
namespace platform = vozaro::platform;

namespace {

// Points the sound server address somewhere nobody answers, for its lifetime.
class DeadSoundServer {
public:
    DeadSoundServer() {
        if (const char* server = std::getenv("PULSE_SERVER"))
            previous_ = server;
        ::setenv("PULSE_SERVER", "unix:/nonexistent/vozaro-no-sound-server", 1);
    }
    ~DeadSoundServer() {
        if (previous_)
            ::setenv("PULSE_SERVER", previous_->c_str(), 1);
        else
            ::unsetenv("PULSE_SERVER");
    }

private:
    std::optional<std::string> previous_;
};

}  // namespace

TEST(BuiltinSynthNoOutput, WithoutAnAudioOutputThePortCannotOpen) {
    DeadSoundServer dead;
    std::string why;
    if (platform::openMidiOutputDevice(platform::kMidiMapper, &why))
        GTEST_SKIP() << "ALSA's default device plays without the sound server on this machine";
    if (why.find("SoundFont") != std::string::npos)
        GTEST_SKIP() << why;
    EXPECT_NE(why.find("no audio output"), std::string::npos) << why;

    TMidiOutputPort port;
    port.setSysexLatency(0);
    port.setPortId(platform::kMidiMapper);
    try {
        port.setActive(true);
        FAIL() << "the built-in synthesizer opened without an audio output";
    } catch (const EMidiOutputPort& error) {
        EXPECT_STREQ(error.what(), "Unable to open port");
    }
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(PhysicalPorts(), nullptr);
}
