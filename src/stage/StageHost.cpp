// The host's page on the stage: every command goes through the handler of
// the stage's own button, slider or queue panel, so that the stage shows it
// as if the host had used the stage.
#include <QApplication>
#include <algorithm>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>

#include "controls/PictureButton.h"
#include "controls/Slider.h"
#include "stage/vozaro_main.h"

using vozaro::stage::HostState;

void TformKaraoke::applyHostPassword() {
    const TKaraokeSettings* settings = liveSettings();
    hostApi_.setPassword(settings ? std::optional<int>(settings->SenhaAnfitriao) : std::nullopt);
}

bool TformKaraoke::hostBusy() const {
    // Inside a modal window (or its question) a command would run in its
    // event loop; the bar is disabled from a stop until its score is over,
    // and Next is disabled while it runs.
    return QApplication::activeModalWidget() != nullptr || flow_.announcing() || !panelBotoes->isEnabled() ||
           !bProxima->isEnabled();
}

HostState TformKaraoke::hostState() {
    HostState state;
    const auto& started = flow_.started();
    if (started && (MidiPlayer.Play() || MidiPlayer.FastForward()))
        state.playing = HostState::Playing{started->numero, started->singer, started->musica, MidiPlayer.Time(), songEnd};
    state.speedSlider = MidiTempo->value();
    state.key = MidiTone->value();
    state.volumeSlider = VolMidi->value();
    const TKaraokeSettings& settings = currentSettings();
    state.monitorVolume = settings.VolumeRetorno;
    state.echo = settings.EcoRetorno;
    state.melodyVolume = settings.VolumeMelodia;
    state.queue = queue_.requests();
    state.times = flow_.stageTimes();
    return state;
}

TformKaraoke::Outcome TformKaraoke::hostCommand(Command command, int value) {
    if (hostBusy())
        return Outcome::Busy;
    int TKaraokeSettings::*option = nullptr;
    switch (command) {
    case Command::Play: {
        // Play without a song to play starts the next request, and with
        // none the catalogue would open.
        const std::string& file = flow_.songFile().empty() ? MidiData.FileName() : flow_.songFile();
        if (!MidiPlayer.Play() && queue_.isEmpty() && !QFileInfo(QFile::decodeName(file.c_str())).isFile())
            return Outcome::QueueEmpty;
        bPlayClick();
        return Outcome::Done;
    }
    case Command::Stop: bStopClick(); return Outcome::Done;
    case Command::Next:
        if (queue_.isEmpty())
            return Outcome::QueueEmpty;
        bProximaClick();
        return Outcome::Done;
    case Command::Key: MidiTone->setValue(value); return Outcome::Done;
    case Command::Speed: MidiTempo->setValue(value); return Outcome::Done;
    case Command::Volume: VolMidi->setValue(value); return Outcome::Done;
    case Command::MonitorVolume: option = &TKaraokeSettings::VolumeRetorno; break;
    case Command::Echo: option = &TKaraokeSettings::EcoRetorno; break;
    case Command::MelodyVolume: option = &TKaraokeSettings::VolumeMelodia; break;
    }
    // As the window of more options changes them.
    TKaraokeSettings* settings = liveSettings();
    if (!settings)
        return Outcome::NotNow;
    settings->*option = value;
    saveMoreOptions(*settings);
    optionsChanged();
    return Outcome::Done;
}

TformKaraoke::Outcome TformKaraoke::hostMove(QueueMove move, std::uint64_t id) {
    if (QApplication::activeModalWidget() != nullptr || (move == QueueMove::PlayNow && hostBusy()))
        return Outcome::Busy;
    const QList<vozaro::stage::Request>& requests = queue_.requests();
    const auto found = std::find_if(requests.begin(), requests.end(),
                                    [id](const vozaro::stage::Request& r) { return r.id == id; });
    if (found == requests.end())
        return Outcome::NoSuchRequest;
    const int row = static_cast<int>(found - requests.begin());
    // The panel's own ways: a drag, one row at a time, and Delete on the
    // selected row.
    const auto dragTo = [this, row](int to) {
        if (to < 0 || to >= Pedidos->count())
            return;
        Pedidos->setCurrentRow(row);
        PedidosMouseDown();
        for (int r = row; r != to;) {
            r += to < row ? -1 : 1;
            Pedidos->setCurrentRow(r);
            PedidosMouseMove();
        }
        PedidosMouseUp();
    };
    switch (move) {
    case QueueMove::Up: dragTo(row - 1); break;
    case QueueMove::Down: dragTo(row + 1); break;
    case QueueMove::Remove: {
        Pedidos->setCurrentRow(row);
        QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        PedidosKeyDown(&del);
        break;
    }
    case QueueMove::PlayNow:
        // As the catalogue's "Tocar Agora": first in the queue, then Next.
        dragTo(0);
        bProximaClick();
        break;
    }
    return Outcome::Done;
}

TformKaraoke::Outcome TformKaraoke::hostRequest(std::int32_t numero, const QString& singer) {
    if (QApplication::activeModalWidget() != nullptr)
        return Outcome::Busy;
    // Typed into the request panel: the number, the singer, Enter.
    eNumero->setText(QString::number(numero));
    eCantorEnter();
    Outcome outcome = Outcome::Done;
    if (eNumero->text().isEmpty()) {
        outcome = Outcome::NoSuchSong;
    } else if (PosicaoEncontrada < 0) {
        outcome = Outcome::NotNow;  // the host has been asked to try again
    } else {
        eCantor->setText(singer);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        eCantorKeyPress(&enter);
    }
    eCantorExit();
    return outcome;
}
