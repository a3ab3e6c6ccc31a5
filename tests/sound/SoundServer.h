// Finding the virtual sound server the tests labelled "sound" run against
// (scripts/sound-server.sh), and playing into its microphone feed.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <cstdint>
#include <functional>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace vozaro::test {

// Empty when the server is reachable, else why not (for GTEST_SKIP).
inline std::string soundServerMissing() {
    const char* server = std::getenv("PULSE_SERVER");
    if (!server || !*server)
        return "PULSE_SERVER is not set: start the virtual sound server with "
               "scripts/sound-server.sh start (./test.sh does)";
    const std::string address = server;
    if (address.rfind("unix:", 0) != 0) return {};
    const std::string path = address.substr(5);
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    if (path.size() >= sizeof where.sun_path) return "PULSE_SERVER socket path too long: " + path;
    path.copy(where.sun_path, path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool reached = fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0;
    if (fd >= 0) ::close(fd);
    if (!reached) return "the virtual sound server at " + address + " is not running";
    return {};
}

// Runs a PulseAudio command-line tool; returns its standard output, or an
// empty string when it failed.
inline QString runPulseTool(const QString& program, const QStringList& arguments,
                            const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) return {};
    if (!input.isEmpty()) process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000) || process.exitCode() != 0) return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Real time, with window messages handled, until pred() or maxMs; whether
// pred() came true.
inline bool waitInRealTime(const std::function<bool()>& pred, int maxMs) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > maxMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

}  // namespace vozaro::test
