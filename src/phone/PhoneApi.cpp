#include "phone/PhoneApi.h"

#include "phone/JsonAnswer.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <QRegularExpression>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

// The guests' page lives in the phone server's own resources, linked in with
// the server whichever program holds it.
static void initPhoneResources() { Q_INIT_RESOURCE(phone); }

namespace vozaro::stage {

using platform::HttpRequest;
using platform::HttpResponse;

namespace {

HttpResponse json(int status, const QJsonDocument& document) { return jsonAnswer(status, document); }
HttpResponse refusal(int status, const QString& why) { return refusalAnswer(status, why); }

HttpResponse notAllowed() { return refusal(405, QStringLiteral("Método não permitido.")); }

HttpResponse switchedOff() { return refusal(503, QStringLiteral("Os pedidos pelo celular estão desligados.")); }

// The page's three files, from the program's resources.
struct PageFile {
    const char* path;
    const char* resource;
    QByteArray contentType;
};
const PageFile kPageFiles[] = {
    {"/", ":/phone/index.html", "text/html; charset=utf-8"},
    {"/index.html", ":/phone/index.html", "text/html; charset=utf-8"},
    {"/pedidos.css", ":/phone/pedidos.css", "text/css; charset=utf-8"},
    {"/pedidos.js", ":/phone/pedidos.js", "text/javascript; charset=utf-8"},
};

QByteArray resource(const char* name) {
    QFile file(QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

PhoneApi::PhoneApi(PhoneRequests& requests, std::function<std::int64_t()> clockMs)
    : requests_(requests), clockMs_(std::move(clockMs)) {
    static const bool resources = (initPhoneResources(), true);
    (void)resources;
}

std::int64_t PhoneApi::steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

HttpResponse PhoneApi::refusal(int status) {
    switch (status) {
    case 408: return stage::refusal(408, QStringLiteral("O pedido demorou demais para chegar."));
    case 411: return stage::refusal(411, QStringLiteral("Pedido sem tamanho declarado."));
    case 413: return stage::refusal(413, QStringLiteral("Pedido grande demais."));
    case 431: return stage::refusal(431, QStringLiteral("Cabeçalho grande demais."));
    default: return stage::refusal(status, QStringLiteral("Pedido mal formado."));
    }
}

void PhoneApi::handle(const HttpRequest& request, platform::HttpResponder respond) {
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    for (const PageFile& file : kPageFiles) {
        if (request.path != QLatin1String(file.path))
            continue;
        if (!get)
            return respond(notAllowed());
        const QByteArray bytes = resource(file.resource);
        if (bytes.isEmpty())
            return respond(stage::refusal(404, QStringLiteral("Endereço não encontrado.")));
        return respond(HttpResponse{200, file.contentType, bytes});
    }
    if (request.path == QLatin1String("/api/musicas"))
        return respond(get ? songs(request) : notAllowed());
    if (request.path == QLatin1String("/api/fila")) {
        if (!get)
            return respond(notAllowed());
        return onUiThread([this, client = request.client] { return queue(client); }, std::move(respond));
    }
    if (request.path == QLatin1String("/api/cancelar")) {
        if (!post)
            return respond(notAllowed());
        return cancelRequest(request, std::move(respond));
    }
    if (request.path == QLatin1String("/api/pedidos")) {
        if (!post)
            return respond(notAllowed());
        return placeRequest(request, std::move(respond));
    }
    respond(stage::refusal(404, QStringLiteral("Endereço não encontrado.")));
}

void PhoneApi::onUiThread(std::function<HttpResponse()> answer, platform::HttpResponder respond) {
    ui_.answer(std::move(answer), std::move(respond));
}

void PhoneApi::forgetOld(std::int64_t now) {
    constexpr qsizetype kForgetAfter = 1000;
    if (searches_.size() > kForgetAfter) {
        for (auto it = searches_.begin(); it != searches_.end();)
            it = now - *std::max_element(it->begin(), it->end()) >= 1000 ? searches_.erase(it) : std::next(it);
    }
    if (tries_.size() > kForgetAfter) {
        for (auto it = tries_.begin(); it != tries_.end();)
            it = now - it.value() >= kTryIntervalMs ? tries_.erase(it) : std::next(it);
    }
}

HttpResponse PhoneApi::songs(const HttpRequest& request) {
    // At most 5 a second from one address: its fifth last search a second ago.
    const std::int64_t now = clockMs_();
    forgetOld(now);
    auto recent = searches_.find(request.client);
    if (recent == searches_.end()) {
        std::array<std::int64_t, kSearchesPerSecond> never;
        never.fill(std::numeric_limits<std::int64_t>::min() / 2);
        recent = searches_.insert(request.client, never);
    }
    auto oldest = std::min_element(recent->begin(), recent->end());
    if (now - *oldest < 1000)
        return stage::refusal(429, QStringLiteral("Muitas buscas. Espere um pouco e tente de novo."));
    *oldest = now;

    const QString* q = request.queryItem(QStringLiteral("q"));
    const QString query = q ? *q : QString();
    if (query.size() > kMaxQuery)
        return stage::refusal(400, QStringLiteral("Busca longa demais."));
    if (query.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts).size() > kMaxQueryWords)
        return stage::refusal(400, QStringLiteral("Busca com palavras demais: use até 8."));
    int page = 1;
    if (const QString* p = request.queryItem(QStringLiteral("pagina"))) {
        bool ok = false;
        page = p->toInt(&ok);
        if (!ok || page < 1 || page > catalogue::kMaxSongs)
            return stage::refusal(400, QStringLiteral("Página inválida."));
    }
    SongSnapshots& snapshots = requests_.songs();
    snapshots.refresh();
    const std::shared_ptr<const SongIndex> index = snapshots.current();
    const SongIndex::Page found = index->search(query, page);
    QJsonArray list;
    for (const IndexedSong* song : found.songs)
        list.append(QJsonObject{{QStringLiteral("numero"), song->numero},
                                {QStringLiteral("interprete"), song->interpreteText()},
                                {QStringLiteral("musica"), song->musicaText()}});
    return json(200, QJsonDocument(QJsonObject{{QStringLiteral("total"), found.total},
                                               {QStringLiteral("musicas"), list}}));
}

HttpResponse PhoneApi::queue(const QString& client) {
    // As the guests see it: singer, performer and title of each request,
    // how long until it starts, and which are the asking phone's own.
    const QList<Request>& waiting = requests_.queue().requests();
    const std::vector<std::int64_t> waits = waitsMs(waiting, requests_.stageTimes());
    QJsonArray list;
    for (int row = 0; row < waiting.size(); ++row) {
        const Request& request = waiting[row];
        list.append(QJsonObject{{QStringLiteral("id"), static_cast<qint64>(request.id)},
                                {QStringLiteral("posicao"), row + 1},
                                {QStringLiteral("cantor"), request.singer},
                                {QStringLiteral("interprete"), request.interprete},
                                {QStringLiteral("musica"), request.musica},
                                {QStringLiteral("espera"), waitMinutes(waits[static_cast<std::size_t>(row)])},
                                {QStringLiteral("seu"), PhoneRequests::madeBy(request, client)}});
    }
    return json(200, QJsonDocument(list));
}

void PhoneApi::cancelRequest(const HttpRequest& request, platform::HttpResponder respond) {
    if (request.body.size() > kMaxBody)
        return respond(stage::refusal(413, QStringLiteral("Pedido grande demais.")));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    const QJsonValue id = document.object().value(QStringLiteral("id"));
    const double k = id.toDouble(-1);
    // Ids are whole numbers from 1 that a double holds exactly.
    if (error.error != QJsonParseError::NoError || !document.isObject() || !id.isDouble() || k != std::floor(k) ||
        k < 1 || k > 9007199254740992.0)
        return respond(stage::refusal(400, QStringLiteral("Pedido mal formado.")));
    onUiThread(
        [this, id = static_cast<std::uint64_t>(k), client = request.client] {
            if (!requests_.accepting())
                return switchedOff();
            if (!requests_.cancel(id, client))
                return stage::refusal(404, QStringLiteral("Pedido não encontrado na fila."));
            return json(200, QJsonDocument(QJsonObject{{QStringLiteral("cancelado"), static_cast<qint64>(id)}}));
        },
        std::move(respond));
}

void PhoneApi::placeRequest(const HttpRequest& request, platform::HttpResponder respond) {
    // Every try with a code is throttled before anything of it is looked at.
    const std::int64_t now = clockMs_();
    forgetOld(now);
    const auto last = tries_.constFind(request.client);
    if (last != tries_.constEnd() && now - last.value() < kTryIntervalMs)
        return respond(stage::refusal(429, QStringLiteral("Muitas tentativas. Espere um pouco e tente de novo.")));
    tries_.insert(request.client, now);

    if (request.body.size() > kMaxBody)
        return respond(stage::refusal(413, QStringLiteral("Pedido grande demais.")));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
    const QJsonObject body = document.object();
    const QJsonValue numero = body.value(QStringLiteral("numero"));
    const QJsonValue cantor = body.value(QStringLiteral("cantor"));
    const QJsonValue codigo = body.value(QStringLiteral("codigo"));
    const double n = numero.toDouble(-1);
    if (error.error != QJsonParseError::NoError || !document.isObject() || !numero.isDouble() ||
        n != std::floor(n) || n < 1 || n > catalogue::kMaxSongs || !(cantor.isString() || cantor.isUndefined()) ||
        !codigo.isString())
        return respond(stage::refusal(400, QStringLiteral("Pedido mal formado.")));

    requests_.songs().refresh();
    onUiThread(
        [this, numero = static_cast<std::int32_t>(n), cantor = cantor.toString(), codigo = codigo.toString(),
         client = request.client] { return placed(requests_.request(numero, cantor, codigo, client)); },
        std::move(respond));
}

HttpResponse PhoneApi::placed(const PhoneRequests::Outcome& outcome) {
    switch (outcome.result) {
    case PhoneRequests::Result::Accepted:
        return json(201, QJsonDocument(QJsonObject{{QStringLiteral("posicao"), outcome.position}}));
    case PhoneRequests::Result::BadName:
        return stage::refusal(400, QStringLiteral("Nome inválido: use até 15 letras comuns."));
    case PhoneRequests::Result::WrongCode:
        return stage::refusal(403, QStringLiteral("Código errado."));
    case PhoneRequests::Result::NoSuchSong:
        return stage::refusal(404, QStringLiteral("Música não encontrada."));
    case PhoneRequests::Result::TooMany:
        return stage::refusal(429, QStringLiteral("Muitos pedidos. Espere um pouco e tente de novo."));
    case PhoneRequests::Result::Off:
        break;
    }
    return switchedOff();
}

QString phoneAddress(const QString& address, int port, const QString& code) {
    return QStringLiteral("http://%1:%2/?c=%3").arg(address).arg(port).arg(code);
}

}  // namespace vozaro::stage
