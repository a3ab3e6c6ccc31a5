// The links by which the stage reaches the program's other windows; the
// program's own are made in StageLinks.cpp and the other folders' link files.
#pragma once

#include <QImage>
#include <functional>
#include <optional>

#include "stores/vozaro_uteis.h"

// What the stage needs of the configuration window: the live settings, the
// program's mixer through the lines that window found, and the window itself.
// The program's link (configLinkOfProgram) reaches the configuration window;
// tests may put fakes in.  Every member may be called before that window
// exists or after it has gone.
struct ConfigLink {
    // The live settings; null while there is no configuration window.
    std::function<TKaraokeSettings*()> settings;
    // The volume of the mixer's MIDI line (the larger side); nothing
    // without such a line.
    std::function<std::optional<int>()> midiVolume;
    // Writes both sides of the MIDI line, its mute as the window shows it.
    std::function<void(int volume)> setMidiVolume;
    // Makes the microphone the only recording source, without saving the
    // state of the sources and without the mute warning.
    std::function<void()> selectMicrophone;
    // Gives the recording sources and the microphone mute back the state
    // they had when the program started.
    std::function<void()> restoreMixerState;
    // Shows the window modally; true when it saved the settings.
    std::function<bool()> showConfiguration;
};
ConfigLink configLinkOfProgram();

// The program's other windows, as the stage opens them.
struct WindowsLink {
    std::function<void()> showCatalogue;
    std::function<void()> showCredits;
    std::function<void()> showStartScreen;
    // The window of more options; the song plays on.
    std::function<void()> showMoreOptions;
    // The program's logo, drawn on every background picture.
    std::function<QImage()> logo;
};
WindowsLink windowsLinkOfProgram();
