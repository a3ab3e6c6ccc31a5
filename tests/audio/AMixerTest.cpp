#include "audio/AMixer.h"
#include "support/FakeMixerDevice.h"

#include "audio/EventLoop.h"

#include <gtest/gtest.h>

#include <tuple>

using namespace vozaro::platform;
using vozaro::audio::LineVolume;
using vozaro::audio::TAudioMixer;
using vozaro::audio::TPointerList;
using vozaro::test::drainEvents;

namespace {

using Values = std::vector<std::int32_t>;

class AMixerTest : public ::testing::Test {
protected:
    void SetUp() override { vozaro::test::ensureApplication(); }

    std::shared_ptr<FakeMixerCard> card = FakeMixerCard::typicalSoundCard();
    ScopedMixerSystem mixers{std::make_shared<FakeMixerSystem>(std::vector{card})};

    Values values(std::uint32_t destination, int connection, std::uint32_t type) {
        FakeMixerCard::Control* control = card->control(destination, connection, type);
        return control ? control->values : Values{};
    }
    Values recordingSelection(TAudioMixer& mixer) {
        std::vector<std::int32_t> selected;
        for (int i = 0; i < 4; ++i) {
            LineVolume v;
            EXPECT_TRUE(mixer.ReadLineVolume(1, i, v));
            EXPECT_TRUE(v.MuteIsSelection);
            selected.push_back(v.Mute);
        }
        return selected;
    }
};

auto fields(const LineVolume& v) {
    return std::make_tuple(v.Left, v.Right, v.Mute, v.Stereo, v.VolumeDisabled, v.MuteDisabled, v.MuteIsSelection);
}

TEST(TPointerListTest, OwnsItsItemsOnlyWithAFreeHandler) {
    int freed = 0;
    int a = 1, b = 2;
    {
        TPointerList list;
        EXPECT_EQ(list.Add(&a), 0);
        EXPECT_EQ(list.Add(&b), 1);
        EXPECT_EQ(list.Count(), 2);
        EXPECT_EQ(list.Get(1), &b);
        EXPECT_EQ(list.Get(2), nullptr);
        list.OnFreeItem = [&](void* item) { freed += *static_cast<int*>(item); };
        list.Clear();
        EXPECT_EQ(freed, 3);
        EXPECT_EQ(list.Count(), 0);
        list.Add(&b);
    }
    EXPECT_EQ(freed, 5);  // destruction clears
}

TEST_F(AMixerTest, WithoutAnyMixerEveryOperationFails) {
    ScopedMixerSystem none{std::make_shared<FakeMixerSystem>()};
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerCount(), 0);
    EXPECT_EQ(mixer.MixerId(), -1);
    ASSERT_NE(mixer.Destinations(), nullptr);
    EXPECT_EQ(mixer.Destinations()->Count(), 0);
    mixer.setMixerId(0);
    EXPECT_EQ(mixer.MixerId(), -1);

    LineVolume v;
    v.Left = 7;
    EXPECT_FALSE(mixer.ReadLineVolume(0, -1, v));
    EXPECT_EQ(fields(v), fields(LineVolume{}));
    EXPECT_FALSE(mixer.WriteLineVolume(0, -1, 100, 100, 1));
    bool muted = true;
    EXPECT_FALSE(mixer.ReadLineMute(0, -1, muted));
    EXPECT_FALSE(muted);
    EXPECT_FALSE(mixer.WriteLineMute(0, -1, true));
}

TEST_F(AMixerTest, OpensTheFirstMixerAndBuildsItsTree) {
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerCount(), 1);
    EXPECT_EQ(mixer.MixerId(), 0);
    EXPECT_EQ(mixer.Manufacturer(), "Microsoft");
    EXPECT_EQ(mixer.ProductName(), card->productName);
    EXPECT_EQ(mixer.ProductId(), 100);
    EXPECT_EQ(mixer.DriverVersion(), 0x0500u);
    EXPECT_EQ(mixer.NumberOfLine(), 2u);
    ASSERT_EQ(mixer.Destinations()->Count(), 2);
    EXPECT_EQ(mixer.Destinations()->Destination(2), nullptr);

    const auto* playback = mixer.Destinations()->Destination(0);
    EXPECT_EQ(playback->Line.componentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(playback->Controls->Count(), 2);
    ASSERT_EQ(playback->Connections->Count(), 5);
    EXPECT_EQ(playback->Connections->Connection(1)->Line.componentType, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER);
    EXPECT_EQ(playback->Connections->Connection(4)->Line.componentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    EXPECT_EQ(playback->Connections->Connection(4)->Controls.Count(), 2);
    EXPECT_EQ(playback->Connections->Connection(5), nullptr);

    const auto* recording = mixer.Destinations()->Destination(1);
    EXPECT_EQ(recording->Line.componentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    ASSERT_EQ(recording->Controls->Count(), 2);
    EXPECT_EQ(recording->Controls->Control(1)->controlType, MIXERCONTROL_CONTROLTYPE_MUX);
    EXPECT_EQ(recording->Controls->Control(1)->multipleItems, 4u);
}

TEST_F(AMixerTest, AnotherManufacturerIsUnknown) {
    card->manufacturerId = 2;
    TAudioMixer mixer;
    EXPECT_EQ(mixer.Manufacturer(), "2 = Unknown");
}

TEST_F(AMixerTest, AMixerIdOutOfRangeKeepsTheOpenMixer) {
    TAudioMixer mixer;
    const std::uintptr_t handle = mixer.MixerHandle();
    const auto* tree = mixer.Destinations();
    mixer.setMixerId(1);
    mixer.setMixerId(-1);
    EXPECT_EQ(mixer.MixerId(), 0);
    EXPECT_EQ(mixer.MixerHandle(), handle);
    EXPECT_EQ(mixer.Destinations(), tree);
    EXPECT_EQ(card->opens, 1);
    mixer.setMixerId(0);  // the same id opens again
    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(mixer.MixerId(), 0);
}

TEST_F(AMixerTest, ReadsStereoMonoAndMissingLines) {
    TAudioMixer mixer;
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, -1, v));
    EXPECT_EQ(fields(v), std::make_tuple(50000, 50000, 0, true, false, false, false));

    card->change(0, 0, MIXERCONTROL_CONTROLTYPE_VOLUME, {1000, 2000});
    ASSERT_TRUE(mixer.ReadLineVolume(0, 0, v));
    EXPECT_EQ(fields(v), std::make_tuple(1000, 2000, 0, true, false, false, false));

    // The microphone line is mono: one channel, right follows left.
    ASSERT_TRUE(mixer.ReadLineVolume(0, 4, v));
    EXPECT_EQ(fields(v), std::make_tuple(20000, 20000, 1, false, false, false, false));

    EXPECT_FALSE(mixer.ReadLineVolume(2, -1, v));
    EXPECT_FALSE(mixer.ReadLineVolume(0, 5, v));
    EXPECT_EQ(fields(v), fields(LineVolume{}));
}

TEST_F(AMixerTest, AUniformVolumeReadsAsMono) {
    auto& control = card->destinations[0].sources[1].controls[0];
    control.flags = MIXERCONTROL_CONTROLF_UNIFORM;
    control.values = {12345};
    TAudioMixer mixer;
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, 1, v));
    EXPECT_EQ(v.Left, 12345);
    EXPECT_EQ(v.Right, 12345);
    EXPECT_FALSE(v.Stereo);
    ASSERT_TRUE(mixer.WriteLineVolume(0, 1, 600, 700, -1));
    EXPECT_EQ(values(0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{600});
}

TEST_F(AMixerTest, DisabledControlsAreReported) {
    card->destinations[0].line.controls[0].flags |= MIXERCONTROL_CONTROLF_DISABLED;
    card->destinations[0].line.controls[1].flags |= MIXERCONTROL_CONTROLF_DISABLED;
    TAudioMixer mixer;
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, -1, v));
    EXPECT_TRUE(v.VolumeDisabled);
    EXPECT_TRUE(v.MuteDisabled);
    EXPECT_EQ(v.Left, 50000);
}

TEST_F(AMixerTest, ALineWithoutControlsIsFoundWithNothingOnIt) {
    card->destinations[1].sources.push_back({MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY, 2, "Aux", {}});
    TAudioMixer mixer;
    ASSERT_EQ(mixer.Destinations()->Destination(1)->Connections->Count(), 5);
    EXPECT_EQ(mixer.Destinations()->Destination(1)->Connections->Connection(4)->Controls.Count(), 0);
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(1, 4, v));
    EXPECT_EQ(fields(v), fields(LineVolume{}));
    EXPECT_TRUE(mixer.WriteLineVolume(1, 4, 100, 100, 1));
    bool muted = true;
    EXPECT_FALSE(mixer.ReadLineMute(1, 4, muted));
    EXPECT_FALSE(muted);
    // A MUX write with a source it does not list clears it entirely.
    EXPECT_TRUE(mixer.WriteLineMute(1, 4, true));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MUX), (Values{0, 0, 0, 0}));
}

TEST_F(AMixerTest, AMuxSelectsExactlyOneRecordingSource) {
    TAudioMixer mixer;
    EXPECT_EQ(recordingSelection(mixer), (Values{0, 0, 1, 0}));
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(1, 2, v));
    EXPECT_EQ(fields(v), std::make_tuple(40000, 40000, 1, false, false, false, true));

    // Mute 1 on a source of the MUX makes it the only selected one, and the
    // volume goes to its own control.
    ASSERT_TRUE(mixer.WriteLineVolume(1, 1, 9000, -1, 1));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MUX), (Values{0, 1, 0, 0}));
    EXPECT_EQ(values(1, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), (Values{9000, 9000}));
    EXPECT_EQ(recordingSelection(mixer), (Values{0, 1, 0, 0}));

    bool selected = false;
    ASSERT_TRUE(mixer.ReadLineMute(1, 1, selected));
    EXPECT_TRUE(selected);
    ASSERT_TRUE(mixer.ReadLineMute(1, 2, selected));
    EXPECT_FALSE(selected);

    ASSERT_TRUE(mixer.WriteLineMute(1, 3, true));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MUX), (Values{0, 0, 0, 1}));
    ASSERT_TRUE(mixer.WriteLineMute(1, 3, false));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MUX), (Values{0, 0, 0, 0}));

    // Deselecting through WriteLineVolume clears the MUX as well.
    card->change(1, -1, MIXERCONTROL_CONTROLTYPE_MUX, {0, 0, 1, 0});
    ASSERT_TRUE(mixer.WriteLineVolume(1, 0, -1, -1, 0));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MUX), (Values{0, 0, 0, 0}));
}

TEST_F(AMixerTest, AMixerControlSelectsSourcesIndependently) {
    card = FakeMixerCard::mixingSoundCard();
    ScopedMixerSystem mixing{std::make_shared<FakeMixerSystem>(std::vector{card})};
    TAudioMixer mixer;
    EXPECT_EQ(recordingSelection(mixer), (Values{0, 1, 1, 0}));
    ASSERT_TRUE(mixer.WriteLineVolume(1, 3, -1, -1, 1));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MIXER), (Values{0, 1, 1, 1}));
    ASSERT_TRUE(mixer.WriteLineVolume(1, 1, -1, -1, 0));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MIXER), (Values{0, 0, 1, 1}));
    // Unselecting through WriteLineMute leaves a MIXER as it was.
    ASSERT_TRUE(mixer.WriteLineMute(1, 2, false));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MIXER), (Values{0, 0, 1, 1}));
    ASSERT_TRUE(mixer.WriteLineMute(1, 0, true));
    EXPECT_EQ(values(1, -1, MIXERCONTROL_CONTROLTYPE_MIXER), (Values{1, 0, 1, 1}));
}

TEST_F(AMixerTest, WritesVolumesAndMutes) {
    TAudioMixer mixer;
    ASSERT_TRUE(mixer.WriteLineVolume(0, 1, 1000, -1, 1));
    EXPECT_EQ(values(0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), (Values{1000, 1000}));
    EXPECT_EQ(values(0, 1, MIXERCONTROL_CONTROLTYPE_MUTE), Values{1});
    ASSERT_TRUE(mixer.WriteLineVolume(0, 1, 3000, 4000, -1));
    EXPECT_EQ(values(0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), (Values{3000, 4000}));
    EXPECT_EQ(values(0, 1, MIXERCONTROL_CONTROLTYPE_MUTE), Values{1});
    ASSERT_TRUE(mixer.WriteLineVolume(0, 1, -1, 5, 0));
    EXPECT_EQ(values(0, 1, MIXERCONTROL_CONTROLTYPE_VOLUME), (Values{3000, 4000}));
    EXPECT_EQ(values(0, 1, MIXERCONTROL_CONTROLTYPE_MUTE), Values{0});
    ASSERT_TRUE(mixer.WriteLineVolume(0, 4, 777, 888, -1));
    EXPECT_EQ(values(0, 4, MIXERCONTROL_CONTROLTYPE_VOLUME), Values{777});

    bool muted = true;
    ASSERT_TRUE(mixer.WriteLineMute(0, -1, true));
    EXPECT_EQ(values(0, -1, MIXERCONTROL_CONTROLTYPE_MUTE), Values{1});
    ASSERT_TRUE(mixer.ReadLineMute(0, -1, muted));
    EXPECT_TRUE(muted);
    ASSERT_TRUE(mixer.WriteLineMute(0, -1, false));
    ASSERT_TRUE(mixer.ReadLineMute(0, -1, muted));
    EXPECT_FALSE(muted);
    // A destination without a mute control has no mute state.
    EXPECT_FALSE(mixer.ReadLineMute(1, -1, muted));
    EXPECT_FALSE(mixer.WriteLineMute(1, -1, true));
}

TEST_F(AMixerTest, AControlThatCannotBeReadIsSkipped) {
    card->destinations[0].line.controls[0].failRead = true;
    TAudioMixer mixer;
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, -1, v));
    EXPECT_EQ(v.Left, -1);
    EXPECT_TRUE(v.VolumeDisabled);
    EXPECT_EQ(v.Mute, 0);
}

TEST_F(AMixerTest, AListTooLargeForItsValuesIsSkipped) {
    auto& mux = card->destinations[1].line.controls[1];
    mux.items.assign(102, 3);
    mux.items[0] = 2;
    mux.values.assign(102, 1);
    TAudioMixer mixer;
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(1, 2, v));
    EXPECT_EQ(v.Mute, -1);
    EXPECT_FALSE(v.MuteIsSelection);
}

TEST_F(AMixerTest, ChangesByAnybodyArriveAsEvents) {
    TAudioMixer mixer;
    std::vector<std::uint32_t> ids;
    mixer.OnControlChange = [&](QObject* sender, std::uintptr_t handle, std::uint32_t id) {
        EXPECT_EQ(sender, &mixer);
        EXPECT_EQ(handle, mixer.MixerHandle());
        ids.push_back(id);
    };
    ASSERT_TRUE(mixer.WriteLineVolume(0, -1, 100, 100, 1));
    EXPECT_TRUE(ids.empty());  // reported later, through the event loop
    drainEvents();
    const auto* playback = mixer.Destinations()->Destination(0);
    EXPECT_EQ(ids, (std::vector{playback->Controls->Control(0)->controlId,
                                playback->Controls->Control(1)->controlId}));

    ids.clear();
    card->change(1, -1, MIXERCONTROL_CONTROLTYPE_MUX, {1, 0, 0, 0});
    drainEvents();
    EXPECT_EQ(ids, std::vector{mixer.Destinations()->Destination(1)->Controls->Control(1)->controlId});
}

TEST_F(AMixerTest, OpensWithoutReportsWhenTheyCannotBeHad) {
    card->failOpens = 2;
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerId(), 0);
    EXPECT_EQ(card->opensWithReports, 0);
    int reports = 0;
    mixer.OnControlChange = [&](QObject*, std::uintptr_t, std::uint32_t) { ++reports; };
    ASSERT_TRUE(mixer.WriteLineMute(0, -1, true));
    drainEvents();
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(values(0, -1, MIXERCONTROL_CONTROLTYPE_MUTE), Values{1});
}

TEST_F(AMixerTest, AMixerThatCannotBeOpenedLeavesAnEmptyTree) {
    card->failOpens = 3;
    TAudioMixer mixer;
    EXPECT_EQ(mixer.MixerCount(), 1);
    EXPECT_EQ(mixer.MixerId(), -1);
    ASSERT_NE(mixer.Destinations(), nullptr);
    EXPECT_EQ(mixer.Destinations()->Count(), 0);
    LineVolume v;
    EXPECT_FALSE(mixer.ReadLineVolume(0, -1, v));
    // A later try may succeed.
    mixer.setMixerId(0);
    EXPECT_EQ(mixer.MixerId(), 0);
    EXPECT_TRUE(mixer.ReadLineVolume(0, -1, v));
}

TEST_F(AMixerTest, ReportsForAGoneMixerAreDropped) {
    int reports = 0;
    {
        TAudioMixer mixer;
        mixer.OnControlChange = [&](QObject*, std::uintptr_t, std::uint32_t) { ++reports; };
        ASSERT_TRUE(mixer.WriteLineMute(0, -1, true));
    }
    drainEvents();
    EXPECT_EQ(reports, 0);
}

}  // namespace
