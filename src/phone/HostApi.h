// The host's page: the evening run from the host's phone, on the phones'
// server, behind the host's password.
//
//   GET  /anfitriao         the page (from the program's resources)
//   POST /api/anfitriao/entrar   {"senha": "123456"}
//        200 {"token": "..."}; 403 wrong password; 429 past 5 tries from one
//        address in a minute (counted before anything of the try is looked
//        at); 400 malformed
//   GET  /api/anfitriao/estado
//        200 {"tocando": {"numero", "cantor", "titulo", "decorrido",
//        "duracao"} or null, "velocidade", "tom", "volume", "retorno", "eco",
//        "melodia", "fila": [{"id", "posicao", "numero", "cantor",
//        "interprete", "musica", "espera"}, ...]} (times in whole seconds;
//        "espera" in whole minutes, rounded up, as the guests see it)
//   POST /api/anfitriao/comando  {"acao": "tocar" | "parar" | "proxima" |
//        "tom" | "velocidade" | "volume" | "retorno" | "eco" | "melodia",
//        "valor": n}
//        200 the new state; 400 unknown action or value out of range; 409
//        while the stage cannot take it
//   POST /api/anfitriao/fila     {"acao": "subir" | "descer" | "remover" |
//        "tocar_agora", "id": k} or {"acao": "pedir", "numero": n,
//        "cantor": "..."}
//        200 the new queue; 404 no such request or song; 409 while the
//        stage cannot take it
//
// Every request but the page and "entrar" carries the token in
// "Authorization: Bearer TOKEN", else 401.  A token is 256 bits from the
// system's random source, good until the program ends or the password
// changes.  There is no limit of tries in all, so that guests cannot lock
// the host out; the guests' code opens nothing here.
//
// Values: "tom" -24..24 semitones, as the key slider; "velocidade" 50..200
// percent, landing on the nearest the speed slider has (50-100 in steps of
// 1, 102-200 in steps of 2, a half step going up); "volume", "retorno", "eco"
// and "melodia" 0..100, the first mapped linearly onto the accompaniment
// slider's 0..65535.
//
// thread: handle on the web server's thread (only the tries are counted
// there); everything else, the password and the tokens included, on the
// thread that created the HostApi (the user-interface thread), where the
// stage is asked.
#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

#include "karaoke/RequestQueue.h"
#include "karaoke/Waits.h"
#include "phone/JsonAnswer.h"
#include "platform/network/HttpService.h"

namespace vozaro::stage {

// What the host's page shows, in the stage's own units.
struct HostState {
    struct Playing {
        std::int32_t numero = 0;
        QString singer, title;
        std::int64_t elapsedMs = 0, lengthMs = 0;  // song time
    };
    std::optional<Playing> playing;  // none while no song plays
    int speedSlider = 50;    // MidiTempo, 0..100
    int key = 0;             // MidiTone, -24..24
    int volumeSlider = 0;    // VolMidi, 0..65535
    int monitorVolume = 0;   // the microphone through the speakers, 0..100
    int echo = 0;            // its echo, 0..100
    int melodyVolume = 0;    // the guide melody, 0..100
    QList<Request> queue;
    StageTimes times;  // for each request's wait
};

// The stage as the host's page drives it: each call goes through the same
// handler as the stage's own button, slider or queue panel, and the stage
// shows the change.
class HostStage {
public:
    enum class Command { Play, Stop, Next, Key, Speed, Volume, MonitorVolume, Echo, MelodyVolume };
    enum class QueueMove { Up, Down, Remove, PlayNow };
    // QueueEmpty: Play or Next with nothing to play (the stage would offer
    // the catalogue, a window the host cannot close from the phone).
    enum class Outcome { Done, Busy, QueueEmpty, NoSuchRequest, NoSuchSong, BadName, NotNow };

    virtual ~HostStage() = default;
    virtual HostState hostState() = 0;
    // `value` in the stage's units: slider values, options 0..100; none for
    // the buttons.
    virtual Outcome hostCommand(Command command, int value) = 0;
    virtual Outcome hostMove(QueueMove move, std::uint64_t id) = 0;
    virtual Outcome hostRequest(std::int32_t numero, const QString& singer) = 0;
};

// The speed slider's value for a speed in percent, and back.
int speedSliderFor(int percent);
int speedPercentOf(int slider);
// The accompaniment slider's value for a volume in percent, and back.
int volumeSliderFor(int percent);
int volumePercentOf(int slider);

class HostApi {
public:
    static constexpr int kTriesPerMinute = 5;  // per address
    static constexpr int kTokenBytes = 32;

    explicit HostApi(HostStage& stage, std::function<std::int64_t()> clockMs);

    // The paths this answers: the page's and the host's interface.
    static bool serves(const QString& path);
    void handle(const platform::HttpRequest& request, platform::HttpResponder respond);

    // The host's password (six digits, as stored); a new one ends every
    // token given.  Nothing opens while there is none.
    void setPassword(std::optional<int> password);

private:
    platform::HttpResponse logIn(const QByteArray& body);
    platform::HttpResponse answer(const platform::HttpRequest& request);
    platform::HttpResponse command(const QJsonObject& body);
    platform::HttpResponse queueChange(const QJsonObject& body);
    platform::HttpResponse state();
    platform::HttpResponse queue();
    bool admits(const QByteArray& authorization) const;
    // Counts a try of `client`; false past the limit.
    bool tryAllowed(const QString& client);

    HostStage& stage_;
    std::function<std::int64_t()> clockMs_;
    UiThreadAnswers ui_;  // made on the user-interface thread
    // The user-interface thread only:
    std::optional<int> password_;
    QSet<QByteArray> tokens_;
    // The web server's thread only: per address, the times of its last tries.
    QHash<QString, std::deque<std::int64_t>> tries_;
};

}  // namespace vozaro::stage
