#include "phone/HostApi.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "phone/JsonAnswer.h"
#include "phone/PhoneRequests.h"
#include "stores/vozaro_uteis.h"

// The host's page lives in the phone server's resources, beside the guests'.
static void initHostResources() { Q_INIT_RESOURCE(phone); }

namespace vozaro::stage {

using platform::HttpRequest;
using platform::HttpResponse;

namespace {

constexpr int kSpeedSliderMax = 100;
constexpr int kVolumeSliderMax = 65535;
constexpr int kKeyMax = 24;
constexpr std::int64_t kMinuteMs = 60000;
// Addresses remembered before those without a try in the last minute are
// dropped.
constexpr qsizetype kForgetAfter = 1000;

struct PageFile {
    const char* path;
    const char* resource;
    const char* contentType;
};
const PageFile kPageFiles[] = {
    {"/anfitriao", ":/phone/anfitriao.html", "text/html; charset=utf-8"},
    {"/anfitriao.css", ":/phone/anfitriao.css", "text/css; charset=utf-8"},
    {"/anfitriao.js", ":/phone/anfitriao.js", "text/javascript; charset=utf-8"},
};

const QString kApi = QStringLiteral("/api/anfitriao/");

HttpResponse notAllowed() { return refusalAnswer(405, QStringLiteral("Método não permitido.")); }
HttpResponse malformed() { return refusalAnswer(400, QStringLiteral("Pedido mal formado.")); }

// A whole number in a JSON value, or nothing.
std::optional<int> wholeNumber(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double n = value.toDouble();
    if (n != std::floor(n) || std::abs(n) > 1e9)
        return std::nullopt;
    return static_cast<int>(n);
}

struct CommandName {
    const char* name;
    HostStage::Command command;
    int minimum, maximum;  // of "valor"; none for the buttons (0, 0)
};
const CommandName kCommands[] = {
    {"tocar", HostStage::Command::Play, 0, 0},
    {"parar", HostStage::Command::Stop, 0, 0},
    {"proxima", HostStage::Command::Next, 0, 0},
    {"tom", HostStage::Command::Key, -kKeyMax, kKeyMax},
    {"velocidade", HostStage::Command::Speed, 50, 200},
    {"volume", HostStage::Command::Volume, 0, 100},
    {"retorno", HostStage::Command::MonitorVolume, 0, 100},
    {"eco", HostStage::Command::Echo, 0, 100},
    {"melodia", HostStage::Command::MelodyVolume, 0, 100},
};

struct MoveName {
    const char* name;
    HostStage::QueueMove move;
};
const MoveName kMoves[] = {
    {"subir", HostStage::QueueMove::Up},
    {"descer", HostStage::QueueMove::Down},
    {"remover", HostStage::QueueMove::Remove},
    {"tocar_agora", HostStage::QueueMove::PlayNow},
};

// The answer to what the stage refused; nothing when it did it.
std::optional<HttpResponse> refused(HostStage::Outcome outcome) {
    switch (outcome) {
    case HostStage::Outcome::Done: return std::nullopt;
    case HostStage::Outcome::Busy:
        return refusalAnswer(409, QStringLiteral("O Vozaro está ocupado agora. Tente de novo daqui a pouco."));
    case HostStage::Outcome::QueueEmpty: return refusalAnswer(409, QStringLiteral("A fila está vazia."));
    case HostStage::Outcome::NoSuchRequest:
        return refusalAnswer(404, QStringLiteral("Este pedido não está mais na fila."));
    case HostStage::Outcome::NoSuchSong: return refusalAnswer(404, QStringLiteral("Música não encontrada."));
    case HostStage::Outcome::BadName:
        return refusalAnswer(400, QStringLiteral("Nome inválido: use até 15 letras comuns."));
    case HostStage::Outcome::NotNow: break;
    }
    return refusalAnswer(503, QStringLiteral("O catálogo está ocupado. Tente de novo daqui a pouco."));
}

QJsonArray queueJson(const HostState& state) {
    QJsonArray list;
    const std::vector<std::int64_t> waits = waitsMs(state.queue, state.times);
    int position = 0;
    for (const Request& request : state.queue)
        list.append(QJsonObject{{QStringLiteral("id"), static_cast<qint64>(request.id)},
                                {QStringLiteral("espera"), waitMinutes(waits[static_cast<std::size_t>(position)])},
                                {QStringLiteral("posicao"), ++position},
                                {QStringLiteral("numero"), request.numero},
                                {QStringLiteral("cantor"), request.singer},
                                {QStringLiteral("interprete"), request.interprete},
                                {QStringLiteral("musica"), request.musica}});
    return list;
}

QByteArray newToken() {
    std::array<quint32, HostApi::kTokenBytes / 4> words;
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char*>(words.data()), HostApi::kTokenBytes).toHex();
}

// Compared in a time that does not depend on where they differ.
bool sameText(const QByteArray& a, const QByteArray& b) {
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace

int speedSliderFor(int percent) {
    percent = std::clamp(percent, 50, 200);
    if (percent <= 100)
        return percent - 50;
    return std::min(kSpeedSliderMax, static_cast<int>(std::lround(percent / 2.0)));
}

int speedPercentOf(int slider) { return slider > 50 ? 2 * slider : slider + 50; }

int volumeSliderFor(int percent) {
    return static_cast<int>(std::lround(std::clamp(percent, 0, 100) * kVolumeSliderMax / 100.0));
}

int volumePercentOf(int slider) {
    return static_cast<int>(std::lround(std::clamp(slider, 0, kVolumeSliderMax) * 100.0 / kVolumeSliderMax));
}

HostApi::HostApi(HostStage& stage, std::function<std::int64_t()> clockMs)
    : stage_(stage), clockMs_(std::move(clockMs)) {
    static const bool resources = (initHostResources(), true);
    (void)resources;
}

bool HostApi::serves(const QString& path) {
    return path == QLatin1String("/anfitriao") || path.startsWith(QLatin1String("/anfitriao.")) ||
           path.startsWith(kApi);
}

void HostApi::setPassword(std::optional<int> password) {
    if (password == password_)
        return;
    password_ = password;
    tokens_.clear();
}

void HostApi::handle(const HttpRequest& request, platform::HttpResponder respond) {
    for (const PageFile& file : kPageFiles) {
        if (request.path != QLatin1String(file.path))
            continue;
        if (request.method != "GET")
            return respond(notAllowed());
        QFile page(QString::fromLatin1(file.resource));
        if (!page.open(QIODevice::ReadOnly))
            return respond(refusalAnswer(404, QStringLiteral("Endereço não encontrado.")));
        return respond(HttpResponse{200, file.contentType, page.readAll()});
    }
    const QString what = request.path.mid(kApi.size());
    const bool get = what == QLatin1String("estado");
    const bool post =
        what == QLatin1String("entrar") || what == QLatin1String("comando") || what == QLatin1String("fila");
    if (!request.path.startsWith(kApi) || (!get && !post))
        return respond(refusalAnswer(404, QStringLiteral("Endereço não encontrado.")));
    if (request.method != (get ? "GET" : "POST"))
        return respond(notAllowed());
    if (what == QLatin1String("entrar")) {
        // Counted before anything of the try is looked at.
        if (!tryAllowed(request.client))
            return respond(refusalAnswer(429, QStringLiteral("Muitas tentativas. Espere um minuto.")));
        return ui_.answer([this, body = request.body] { return logIn(body); }, std::move(respond));
    }
    ui_.answer([this, request] { return answer(request); }, std::move(respond));
}

bool HostApi::tryAllowed(const QString& client) {
    const std::int64_t now = clockMs_();
    if (tries_.size() > kForgetAfter) {
        for (auto it = tries_.begin(); it != tries_.end();)
            it = it->empty() || now - it->back() >= kMinuteMs ? tries_.erase(it) : std::next(it);
    }
    std::deque<std::int64_t>& tries = tries_[client];
    while (!tries.empty() && now - tries.front() >= kMinuteMs)
        tries.pop_front();
    if (static_cast<int>(tries.size()) >= kTriesPerMinute)
        return false;
    tries.push_back(now);
    return true;
}

HttpResponse HostApi::logIn(const QByteArray& body) {
    const QJsonValue senha = QJsonDocument::fromJson(body).object().value(QStringLiteral("senha"));
    if (!senha.isString())
        return malformed();
    if (!password_ || !sameText(senha.toString().toUtf8(), QByteArray::fromStdString(hostPasswordText(*password_))))
        return refusalAnswer(403, QStringLiteral("Senha errada."));
    const QByteArray token = newToken();
    tokens_.insert(token);
    return jsonAnswer(200, QJsonDocument(QJsonObject{{QStringLiteral("token"), QString::fromLatin1(token)}}));
}

bool HostApi::admits(const QByteArray& authorization) const {
    static const QByteArray bearer = "Bearer ";
    return authorization.startsWith(bearer) && tokens_.contains(authorization.mid(bearer.size()).trimmed());
}

HttpResponse HostApi::answer(const HttpRequest& request) {
    if (!admits(request.authorization))
        return refusalAnswer(401, QStringLiteral("Entre com a senha do anfitrião."));
    if (request.method == "GET")
        return state();
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return malformed();
    return request.path.endsWith(QLatin1String("/comando")) ? command(document.object())
                                                            : queueChange(document.object());
}

HttpResponse HostApi::command(const QJsonObject& body) {
    const QString action = body.value(QStringLiteral("acao")).toString();
    const auto known = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const CommandName& c) { return action == QLatin1String(c.name); });
    if (known == std::end(kCommands))
        return refusalAnswer(400, QStringLiteral("Ação desconhecida."));
    int value = 0;
    if (known->minimum != known->maximum) {
        const std::optional<int> n = wholeNumber(body.value(QStringLiteral("valor")));
        if (!n || *n < known->minimum || *n > known->maximum)
            return refusalAnswer(400, QStringLiteral("Valor fora dos limites: de %1 a %2.")
                                          .arg(known->minimum)
                                          .arg(known->maximum));
        value = *n;
        if (known->command == HostStage::Command::Speed)
            value = speedSliderFor(value);
        else if (known->command == HostStage::Command::Volume)
            value = volumeSliderFor(value);
    }
    if (auto refusal = refused(stage_.hostCommand(known->command, value)))
        return *refusal;
    return state();
}

HttpResponse HostApi::queueChange(const QJsonObject& body) {
    const QString action = body.value(QStringLiteral("acao")).toString();
    HostStage::Outcome outcome;
    if (action == QLatin1String("pedir")) {
        const std::optional<int> numero = wholeNumber(body.value(QStringLiteral("numero")));
        const QJsonValue cantor = body.value(QStringLiteral("cantor"));
        if (!numero || *numero < 1 || *numero > catalogue::kMaxSongs || !(cantor.isString() || cantor.isUndefined()))
            return malformed();
        const std::optional<QString> singer = PhoneRequests::checkedName(cantor.toString());
        if (!singer)
            return *refused(HostStage::Outcome::BadName);
        outcome = stage_.hostRequest(*numero, *singer);
    } else {
        const auto known = std::find_if(std::begin(kMoves), std::end(kMoves),
                                        [&](const MoveName& m) { return action == QLatin1String(m.name); });
        const std::optional<int> id = wholeNumber(body.value(QStringLiteral("id")));
        if (known == std::end(kMoves))
            return refusalAnswer(400, QStringLiteral("Ação desconhecida."));
        if (!id)
            return malformed();
        if (*id < 1)
            return *refused(HostStage::Outcome::NoSuchRequest);
        outcome = stage_.hostMove(known->move, static_cast<std::uint64_t>(*id));
    }
    if (auto refusal = refused(outcome))
        return *refusal;
    return queue();
}

HttpResponse HostApi::queue() { return jsonAnswer(200, QJsonDocument(queueJson(stage_.hostState()))); }

HttpResponse HostApi::state() {
    const HostState s = stage_.hostState();
    QJsonValue playing;  // null
    if (s.playing)
        playing = QJsonObject{{QStringLiteral("numero"), s.playing->numero},
                              {QStringLiteral("cantor"), s.playing->singer},
                              {QStringLiteral("titulo"), s.playing->title},
                              {QStringLiteral("decorrido"), static_cast<qint64>(s.playing->elapsedMs / 1000)},
                              {QStringLiteral("duracao"), static_cast<qint64>(s.playing->lengthMs / 1000)}};
    return jsonAnswer(200, QJsonDocument(QJsonObject{{QStringLiteral("tocando"), playing},
                                                     {QStringLiteral("velocidade"), speedPercentOf(s.speedSlider)},
                                                     {QStringLiteral("tom"), s.key},
                                                     {QStringLiteral("volume"), volumePercentOf(s.volumeSlider)},
                                                     {QStringLiteral("retorno"), s.monitorVolume},
                                                     {QStringLiteral("eco"), s.echo},
                                                     {QStringLiteral("melodia"), s.melodyVolume},
                                                     {QStringLiteral("fila"), queueJson(s)}}));
}

}  // namespace vozaro::stage
