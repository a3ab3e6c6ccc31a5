// vozaro-letra FILE: loads FILE as the stage loads a song and prints its lyric
// syllables, one line each: index, TAB, song time in milliseconds, TAB, the
// text in UTF-8 (a leading "/" or "\" kept; a control character such as a
// line feed inside a syllable is printed as a space, so that every syllable
// stays on one line).
//
// Exit status: 0 with syllables; 1, printing nothing, when the file has no
// lyrics; 2 with the reason on standard error when the file is missing or
// cannot be read as a song.
#include <QGuiApplication>
#include <cstdio>
#include <exception>

#include "platform/MessageBox.h"
#include "stage/canvas/KaraokeStage.h"

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vozaro-letra FILE\n");
        return 2;
    }
    // Fitting the lyric font needs fonts, not a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own notes (a missing runtime folder and the like) are not for the
    // reader of this output.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    QGuiApplication app(argc, argv);
    bool reported = false;
    vozaro::platform::setMessageResponder([&reported](const vozaro::platform::MessageRequest& m) {
        std::fprintf(stderr, "%s\n", m.text.c_str());
        reported = true;
        return vozaro::platform::MessageResult::Ok;
    });

    KaraokeStage stage;
    stage.resizeCanvas(QSize(1280, 1024));
    bool found = false;
    try {
        found = stage.CarregarMusica(QString::fromLocal8Bit(argv[1]));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 2;
    }
    if (reported)
        return 2;
    if (!found)
        return 1;
    for (qsizetype k = 0; k < stage.Silabas.size(); ++k) {
        QByteArray text = stage.Silabas[k].toUtf8();
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = ' ';
        std::printf("%lld\t%d\t%s\n", static_cast<long long>(k),
                    stage.Tempos[static_cast<std::size_t>(k)], text.constData());
    }
    return 0;
}
