// The idle stage's sound, before and after the sound server restarts: the
// built-in synthesizer's stream open from an earlier song (its handle
// closed, as between songs) and the mixer watched by the event loop, on a
// virtual sound server of the bench's own.  Prints the process's CPU share
// over a quiet interval before the server is killed and after it was
// started again and everything reconnected.  Not a test: the figures are
// read, not asserted.
//
//   bench_idle_sound [SECONDS]      (default 10; needs pulseaudio)
#include "platform/devices/MidiDevices.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "platform/devices/MixerDevice.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

QString soundServer(const QString& folder, const QString& command) {
    qputenv("VOZARO_SOUND_DIR", folder.toUtf8());
    QProcess script;
    script.start(QStringLiteral(VOZARO_SOURCE_DIR "/scripts/sound-server.sh"), {command});
    script.waitForFinished(30000);
    qunsetenv("VOZARO_SOUND_DIR");
    return QString::fromUtf8(script.readAllStandardOutput()).trimmed();
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The event loop runs for `seconds`; the share of one core used meanwhile.
double idleShare(int seconds) {
    const double start = cpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    return (cpuSeconds() - start) / seconds;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    QTemporaryDir folder;
    const QString started = soundServer(folder.path(), "start");
    if (!started.startsWith("PULSE_SERVER=")) {
        std::fprintf(stderr, "no virtual sound server could be started\n");
        return 1;
    }
    qputenv("PULSE_SERVER", started.mid(13).toUtf8());
    std::string why;
    if (!vozaro::platform::openMidiOutputDevice(vozaro::platform::kMidiMapper, &why)) {
        std::fprintf(stderr, "the built-in synthesizer does not open: %s\n", why.c_str());
        soundServer(folder.path(), "stop");
        return 1;
    }
    QObject window;
    std::unique_ptr<vozaro::platform::MixerDevice> mixer;
    vozaro::platform::openMixerDevice(0, &window, [](std::uint32_t, std::uintptr_t, std::uint32_t) {}, mixer);

    const double before = idleShare(seconds);
    soundServer(folder.path(), "kill");
    const double away = idleShare(2);
    soundServer(folder.path(), "start");
    idleShare(2);  // reconnecting
    const double after = idleShare(seconds);
    std::printf("idle stage CPU, share of one core over %d s\n", seconds);
    std::printf("  before the restart    %6.2f %%\n", 100 * before);
    std::printf("  server away (2 s)     %6.2f %%\n", 100 * away);
    std::printf("  after the restart     %6.2f %%\n", 100 * after);
    mixer.reset();
    vozaro::platform::stopBuiltinSynthAudio();
    soundServer(folder.path(), "stop");
    return 0;
}
