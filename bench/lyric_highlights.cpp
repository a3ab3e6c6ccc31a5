// Plays a karaoke song on the built-in synthesizer the way the stage does,
// the lyric display stepped by the 50 ms window timer that starts when the
// player plays, and prints a line "index microseconds" for every syllable
// as it is highlighted, on the monotonic clock; "end" when the song is over.
// bench/lyric_lag.py pairs those times with the sound recorded from the
// sound server's monitor.  With --guests, guests come to the program's web
// server meanwhile (PhoneGuests.h: 20 phones searching 99,999 songs in a
// loop, 300 connections half sent).
//
// Run: bench_lyric_highlights SONG [--guests]   (offscreen; needs the sound server)
#include <QGuiApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstring>
#include <memory>
#include <exception>

#include "PhoneGuests.h"
#include "platform/devices/MidiDevices.h"
#include "platform/PeriodicTimer.h"
#include "platform/WindowTimer.h"
#include "stage/canvas/KaraokeStage.h"

int main(int argc, char** argv) {
    const bool withGuests = argc == 3 && std::strcmp(argv[2], "--guests") == 0;
    if (argc != 2 && !withGuests) {
        std::fprintf(stderr, "usage: %s SONG [--guests]\n", argv[0]);
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
        vozaro::platform::WindowTimer lyricTimer([&stage] { stage.AtualizarLetra(); });
        lyricTimer.setInterval(KaraokeStage::kLyricStepMs);
        stage.syllableStepDue = [&stage, &lyricTimer] {
            if (lyricTimer.isActive())
                stage.AtualizarLetra();
        };
        stage.syllableSung = [&stage] {
            std::printf("%d %llu\n", stage.SilabaAtual,
                        static_cast<unsigned long long>(vozaro::platform::monotonicMicros()));
            std::fflush(stdout);
        };
        stage.MidiPlayer.OnPlay = [&lyricTimer](vozaro::midi::TMidiPlayer*) { lyricTimer.start(); };
        stage.MidiPlayer.OnStop = [&app](vozaro::midi::TMidiPlayer*) {
            QMetaObject::invokeMethod(&app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
        };
        stage.MidiData.setActive(true);
        stage.OrMidi.setActive(true);
        stage.TrackOutputs.setActive(true);
        stage.MidiPlayer.UpdateMidiData();
        stage.MidiPlayer.setStopAtEnd(true);
        stage.MidiPlayer.Rewind();
        stage.MidiPlayer.setPlay(true);
        app.exec();
        lyricTimer.stop();
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
