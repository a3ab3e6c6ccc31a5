#include <gtest/gtest.h>

#include <array>

#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "stores/vozaro_uteis.h"

using vozaro::platform::MemorySettingsStore;

namespace {

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        auto owned = std::make_unique<MemorySettingsStore>();
        store = owned.get();
        previous = vozaro::platform::installSettingsStore(std::move(owned));
    }
    void TearDown() override { vozaro::platform::installSettingsStore(std::move(previous)); }

    MemorySettingsStore* store = nullptr;
    std::unique_ptr<vozaro::platform::SettingsStore> previous;
};

TEST_F(Settings, ReadsFallBackToTheDefault) {
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 2000), 2000);
    EXPECT_TRUE(ReadSettingBool("AutoNext", true));
    EXPECT_FALSE(ReadSettingBool("MicMute", false));
    store->putNonInteger(kSettingsKey, "NoiseLevel");
    store->putNonInteger(kSettingsKey, "Ajuda");
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 2000), 2000);
    EXPECT_TRUE(ReadSettingBool("Ajuda", true));
}

TEST_F(Settings, TruthValuesAreOneOrZeroAndAnyNonZeroIsTrue) {
    WriteSettingBool("AutoNext", true);
    WriteSettingBool("Ajuda", false);
    EXPECT_EQ(ReadSettingInt("AutoNext", -5), 1);
    EXPECT_EQ(ReadSettingInt("Ajuda", -5), 0);
    WriteSettingInt("DarNota", -3);
    EXPECT_TRUE(ReadSettingBool("DarNota", false));
    EXPECT_FALSE(ReadSettingBool("Ajuda", true));
}

TEST_F(Settings, FailedWritesAreDroppedSilently) {
    store->setWritable(false);
    WriteSettingInt("MIDIPort", 2);
    WriteSettingBool("Ajuda", false);
    EXPECT_EQ(ReadSettingInt("MIDIPort", -1), -1);
    EXPECT_TRUE(ReadSettingBool("Ajuda", true));
}

TEST_F(Settings, EmptyStoreLoadsTheDefaultsAndTheSaveStoresThemAll) {
    TKaraokeSettings settings;
    settings.MIDIPort = 9;
    settings.AutoNext = false;
    settings.DarkImg = 0;
    loadKaraokeSettings(settings);
    EXPECT_EQ(settings.MIDIPort, -1);
    EXPECT_TRUE(settings.AutoNext);
    EXPECT_TRUE(settings.Ajuda);
    EXPECT_EQ(settings.DarkImg, 4);
    EXPECT_EQ(settings.NoiseLevel, 2000);
    EXPECT_FALSE(settings.MicMute);
    EXPECT_TRUE(settings.DarNota);
    EXPECT_TRUE(settings.AfinacaoNota);

    settings.DarkLevel = 0;
    settings.autoNextSwitch = false;
    saveKaraokeSettings(settings);
    // The load stored the host's password it drew.
    EXPECT_EQ(store->writeLog(), (std::vector<std::string>{"SenhaAnfitriao", "MIDIPort", "AutoNext", "Ajuda", "MicMute", "DarNota",
                                                         "DarkImg", "NoiseLevel", "AfinacaoNota", "Celular",
                                                         "PortaCelular", "TelaCantores", "RetornoMic",
                                                         "VolumeRetorno", "EcoRetorno", "GuiaAfinacao",
                                                         "VolumeMelodia", "Revezamento", "SenhaAnfitriao"}));
    EXPECT_EQ(settings.DarkLevel, 51);
    EXPECT_TRUE(settings.autoNextSwitch);
    EXPECT_EQ(ReadSettingInt("MIDIPort", 0), -1);
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 0), 2000);
}

TEST_F(Settings, StoredValuesAreLoadedAndBroughtIntoRange) {
    WriteSettingInt("MIDIPort", 7);
    WriteSettingBool("AutoNext", false);
    WriteSettingBool("Ajuda", false);
    WriteSettingInt("DarkImg", 21);
    WriteSettingInt("NoiseLevel", 40000);
    WriteSettingBool("DarNota", true);
    TKaraokeSettings settings;
    loadKaraokeSettings(settings);
    EXPECT_EQ(settings.MIDIPort, 7);  // fitted to the device list by chooseMidiPort
    EXPECT_FALSE(settings.AutoNext);
    EXPECT_FALSE(settings.Ajuda);
    EXPECT_EQ(settings.DarkImg, 4);
    EXPECT_EQ(settings.NoiseLevel, 32768);
    EXPECT_TRUE(settings.DarNota);

    WriteSettingInt("DarkImg", -1);
    WriteSettingInt("NoiseLevel", -20);
    WriteSettingInt("MicMute", 1);
    loadKaraokeSettings(settings);
    EXPECT_EQ(settings.DarkImg, 4);
    EXPECT_EQ(settings.NoiseLevel, 0);
    // Scoring needs the microphone.
    EXPECT_TRUE(settings.MicMute);
    EXPECT_FALSE(settings.DarNota);
}

TEST_F(Settings, PhoneRequestsAreOffOnPort8080UntilStored) {
    TKaraokeSettings settings;
    loadKaraokeSettings(settings);
    EXPECT_FALSE(settings.Celular);
    EXPECT_EQ(settings.PortaCelular, 8080);
    struct Case {
        int stored;
        int port;
    };
    for (const Case& c : {Case{9000, 9000}, {1, 1}, {65526, 65526}, {65527, 8080}, {0, 8080}, {-5, 8080}}) {
        WriteSettingBool("Celular", true);
        WriteSettingInt("PortaCelular", c.stored);
        loadKaraokeSettings(settings);
        EXPECT_TRUE(settings.Celular);
        EXPECT_EQ(settings.PortaCelular, c.port) << c.stored;
    }
    settings.Celular = false;
    settings.PortaCelular = 8500;
    saveKaraokeSettings(settings);
    EXPECT_EQ(ReadSettingInt("Celular", -1), 0);
    EXPECT_EQ(ReadSettingInt("PortaCelular", -1), 8500);
}

// The more options: percentages brought into 0..100; the host's password
// drawn once when missing or out of range, stored, and kept afterwards.
TEST_F(Settings, MoreOptionsAreBroughtIntoRangeAndThePasswordIsDrawnOnce) {
    TKaraokeSettings settings;
    loadKaraokeSettings(settings);
    EXPECT_EQ(settings.VolumeRetorno, 50);
    EXPECT_EQ(settings.EcoRetorno, 30);
    EXPECT_EQ(settings.VolumeMelodia, 100);
    EXPECT_TRUE(settings.GuiaAfinacao);
    EXPECT_FALSE(settings.RetornoMic || settings.Revezamento);
    const int drawn = ReadSettingInt("SenhaAnfitriao", -1);
    EXPECT_EQ(settings.SenhaAnfitriao, drawn);
    loadKaraokeSettings(settings);
    EXPECT_EQ(settings.SenhaAnfitriao, drawn);

    struct Case {
        int stored, percent;
        int password;
        bool kept;
    };
    for (const Case& c : {Case{101, 100, 1000000, false}, {-1, 0, -1, false}, {7, 7, 42, true}, {0, 0, 999999, true}}) {
        for (const char* name : {"VolumeRetorno", "EcoRetorno", "VolumeMelodia"})
            WriteSettingInt(name, c.stored);
        WriteSettingInt("SenhaAnfitriao", c.password);
        loadKaraokeSettings(settings);
        EXPECT_EQ(settings.VolumeRetorno, c.percent);
        EXPECT_EQ(settings.EcoRetorno, c.percent);
        EXPECT_EQ(settings.VolumeMelodia, c.percent);
        EXPECT_EQ(settings.SenhaAnfitriao == c.password, c.kept) << c.password;
        EXPECT_EQ(ReadSettingInt("SenhaAnfitriao", -1), settings.SenhaAnfitriao);
    }
    EXPECT_EQ(hostPasswordText(42), "000042");
}

TEST_F(Settings, TheSingersScreenIsOnUntilSwitchedOff) {
    TKaraokeSettings settings;
    loadKaraokeSettings(settings);
    EXPECT_TRUE(settings.TelaCantores);
    for (const bool stored : {false, true}) {
        WriteSettingBool("TelaCantores", stored);
        loadKaraokeSettings(settings);
        EXPECT_EQ(settings.TelaCantores, stored);
    }
    settings.TelaCantores = false;
    saveKaraokeSettings(settings);
    EXPECT_EQ(ReadSettingInt("TelaCantores", -1), 0);
}

TEST(DarkLevel, FollowsTheStepRoundingHalvesToEven) {
    constexpr std::array<int, 21> expected{0,   13,  26,  38,  51,  64,  76,  89,  102, 115, 128,
                                           140, 153, 166, 178, 191, 204, 217, 230, 242, 255};
    for (int step = 0; step < 21; ++step)
        EXPECT_EQ(darkLevelOf(step), expected[step]) << "step " << step;
    EXPECT_EQ(darkLevelOf(-1), 51);
    EXPECT_EQ(darkLevelOf(21), 51);
}

TEST(MidiPort, AStoredIndexOutsideTheListSelectsTheLastDevice) {
    EXPECT_EQ(chooseMidiPort(7, 3), 2);
    EXPECT_EQ(chooseMidiPort(1, 3), 1);
    EXPECT_EQ(chooseMidiPort(0, 3), 0);
    EXPECT_EQ(chooseMidiPort(-1, 3), 2);
    EXPECT_EQ(chooseMidiPort(-1, 0), -1);
    EXPECT_EQ(chooseMidiPort(0, 0), -1);
}

}  // namespace
