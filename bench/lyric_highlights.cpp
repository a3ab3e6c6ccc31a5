// Plays a karaoke song on the built-in synthesizer the way the stage does,
// the lyric display stepped by the stage's display steps (every 16 ms, and at
// each syllable) from when the player plays, and prints a line "index microseconds" for every syllable
// as it is highlighted, on the monotonic clock, followed by the moment the
// display time passed that syllable as the player's clock has it (its due
// time: lit minus due is what the display step adds, due minus the sound is
// the floor no drawing can beat); "end" when the song is over.
// bench/lyric_lag.py pairs those times with the sound recorded from the
// sound server's monitor.  With --guests, guests come to the program's web
// server meanwhile (PhoneGuests.h: 20 phones searching 99,999 songs in a
// loop, 300 connections half sent).
//
// Run: bench_lyric_highlights SONG [--guests] [--speed PERCENT]
// (offscreen; needs the sound server)
#include <QGuiApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <exception>

#include "PhoneGuests.h"
#include "platform/devices/MidiDevices.h"
#include "platform/PeriodicTimer.h"
#include "stage/canvas/KaraokeStage.h"

int main(int argc, char** argv) {
    bool withGuests = false;
    int speed = 100;
    bool usage = argc < 2;
    for (int i = 2; i < argc && !usage; ++i) {
        if (std::strcmp(argv[i], "--guests") == 0)
            withGuests = true;
        else if (std::strcmp(argv[i], "--speed") == 0 && i + 1 < argc)
            speed = std::atoi(argv[++i]);
        else
            usage = true;
    }
    if (usage || speed <= 0) {
        std::fprintf(stderr, "usage: %s SONG [--guests] [--speed PERCENT]\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    std::unique_ptr<vozaro::bench::PhoneGuests> guests;
    if (withGuests) {
        guests = std::make_unique<vozaro::bench::PhoneGuests>();
        if (guests->port() == 0) {
            std::fprintf(stderr, "no free port on 127.0.0.1\n");
            return 1;
        }
        guests->come();
    }
    KaraokeStage stage;
    stage.resizeCanvas(QSize(1280, 720));
    stage.TrackOutputs.setDefaultOutputPort(vozaro::platform::kMidiMapper);
    try {
        if (!stage.CarregarMusica(QString::fromLocal8Bit(argv[1]))) {
            std::fprintf(stderr, "no lyrics in %s\n", argv[1]);
            return 1;
        }
        stage.syllableSung = [&stage, speed] {
            const std::uint64_t lit = vozaro::platform::monotonicMicros();
            const std::int64_t pastMs = stage.MidiPlayer.DisplayTime() - stage.Tempos[stage.SilabaAtual];
            const std::uint64_t due = lit - static_cast<std::uint64_t>(pastMs * 1000 * 100 / speed);
            std::printf("%d %llu %llu\n", stage.SilabaAtual, static_cast<unsigned long long>(lit),
                        static_cast<unsigned long long>(due));
            std::fflush(stdout);
        };
        stage.MidiPlayer.OnPlay = [&stage](vozaro::midi::TMidiPlayer*) { stage.startDisplaySteps(); };
        stage.MidiPlayer.OnStop = [&app](vozaro::midi::TMidiPlayer*) {
            QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        };
        stage.MidiData.setActive(true);
        stage.OrMidi.setActive(true);
        stage.TrackOutputs.setActive(true);
        stage.MidiPlayer.UpdateMidiData();
        stage.MidiPlayer.setStopAtEnd(true);
        stage.MidiPlayer.setTempoPercent(speed);
        stage.MidiPlayer.Rewind();
        stage.MidiPlayer.setPlay(true);
        app.exec();
        stage.stopDisplaySteps();
        stage.MidiPlayer.Stop();
        if (guests)
            guests->leave();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::printf("end\n");
    return 0;
}
