#include "stage/PhoneApi.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace vozaro::stage {

using platform::HttpRequest;
using platform::HttpResponse;

namespace {

const QByteArray kJson = "application/json; charset=utf-8";

HttpResponse json(int status, const QJsonDocument& document) {
    return HttpResponse{status, kJson, document.toJson(QJsonDocument::Compact)};
}

HttpResponse refusal(int status, const QString& why) {
    return json(status, QJsonDocument(QJsonObject{{QStringLiteral("erro"), why}}));
}

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

HttpResponse PhoneApi::handle(const HttpRequest& request) {
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    for (const PageFile& file : kPageFiles) {
        if (request.path != QLatin1String(file.path))
            continue;
        if (!get)
            return refusal(405, QStringLiteral("Método não permitido."));
        const QByteArray bytes = resource(file.resource);
        if (bytes.isEmpty())
            return refusal(404, QStringLiteral("Endereço não encontrado."));
        return HttpResponse{200, file.contentType, bytes};
    }
    if (request.path == QLatin1String("/api/musicas"))
        return get ? songs(request) : refusal(405, QStringLiteral("Método não permitido."));
    if (request.path == QLatin1String("/api/fila"))
        return get ? queue() : refusal(405, QStringLiteral("Método não permitido."));
    if (request.path == QLatin1String("/api/pedidos"))
        return post ? placeRequest(request) : refusal(405, QStringLiteral("Método não permitido."));
    return refusal(404, QStringLiteral("Endereço não encontrado."));
}

HttpResponse PhoneApi::songs(const HttpRequest& request) {
    const QString* q = request.queryItem(QStringLiteral("q"));
    const QString query = q ? *q : QString();
    if (query.size() > kMaxQuery)
        return refusal(400, QStringLiteral("Busca longa demais."));
    int page = 1;
    if (const QString* p = request.queryItem(QStringLiteral("pagina"))) {
        bool ok = false;
        page = p->toInt(&ok);
        if (!ok || page < 1 || page > catalogue::kMaxSongs)
            return refusal(400, QStringLiteral("Página inválida."));
    }
    SongIndex& index = requests_.songs();
    index.refresh();
    const SongIndex::Page found = index.search(query, page);
    QJsonArray list;
    for (const IndexedSong* song : found.songs)
        list.append(QJsonObject{{QStringLiteral("numero"), song->numero},
                                {QStringLiteral("interprete"), song->interpreteText()},
                                {QStringLiteral("musica"), song->musicaText()}});
    return json(200, QJsonDocument(QJsonObject{{QStringLiteral("total"), found.total},
                                               {QStringLiteral("musicas"), list}}));
}

PhoneApi::QueuedRequest PhoneApi::splitLine(const QString& line, const SongIndex& songs) {
    // "NNNNN - singer - performer - title": the performer and title come
    // from the catalogue when the line still ends with them, so that a " - "
    // inside either cannot move the singer.
    static const QString kSeparator = QStringLiteral(" - ");
    QueuedRequest request;
    const QString rest = line.mid(5 + kSeparator.size());
    if (const auto number = lineNumber(line)) {
        if (const IndexedSong* song = songs.byNumber(*number)) {
            const QString tail = kSeparator + song->interpreteText() + kSeparator + song->musicaText();
            if (rest.endsWith(tail)) {
                request.cantor = rest.left(rest.size() - tail.size());
                request.interprete = song->interpreteText();
                request.musica = song->musicaText();
                return request;
            }
        }
    }
    const QStringList parts = rest.split(kSeparator);
    request.cantor = parts.value(0);
    request.interprete = parts.value(1);
    request.musica = parts.mid(2).join(kSeparator);
    return request;
}

HttpResponse PhoneApi::queue() {
    SongIndex& index = requests_.songs();
    index.refresh();
    QJsonArray list;
    int position = 0;
    for (const QString& line : requests_.queue().lines()) {
        const QueuedRequest r = splitLine(line, index);
        list.append(QJsonObject{{QStringLiteral("posicao"), ++position},
                                {QStringLiteral("cantor"), r.cantor},
                                {QStringLiteral("interprete"), r.interprete},
                                {QStringLiteral("musica"), r.musica}});
    }
    return json(200, QJsonDocument(list));
}

HttpResponse PhoneApi::placeRequest(const HttpRequest& request) {
    if (!requests_.accepting())
        return refusal(503, QStringLiteral("Os pedidos pelo celular estão desligados."));
    if (request.body.size() > kMaxBody)
        return refusal(413, QStringLiteral("Pedido grande demais."));
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
        return refusal(400, QStringLiteral("Pedido mal formado."));

    const PhoneRequests::Outcome outcome =
        requests_.request(static_cast<std::int32_t>(n), cantor.toString(), codigo.toString(), request.client);
    switch (outcome.result) {
    case PhoneRequests::Result::Accepted:
        return json(201, QJsonDocument(QJsonObject{{QStringLiteral("posicao"), outcome.position}}));
    case PhoneRequests::Result::BadName:
        return refusal(400, QStringLiteral("Nome inválido: use até 15 letras comuns."));
    case PhoneRequests::Result::WrongCode:
        return refusal(403, QStringLiteral("Código errado."));
    case PhoneRequests::Result::NoSuchSong:
        return refusal(404, QStringLiteral("Música não encontrada."));
    case PhoneRequests::Result::TooMany:
        return refusal(429, QStringLiteral("Muitos pedidos. Espere um pouco e tente de novo."));
    case PhoneRequests::Result::Off:
        break;
    }
    return refusal(503, QStringLiteral("Os pedidos pelo celular estão desligados."));
}

}  // namespace vozaro::stage
