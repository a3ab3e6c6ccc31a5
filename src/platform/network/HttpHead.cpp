#include "platform/network/HttpHead.h"

#include <QUrl>
#include <QUrlQuery>

#include <cstring>

namespace vozaro::platform {

namespace {

bool isToken(const QByteArray& text) {
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (c <= ' ' || c >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c) != nullptr)
            return false;
    return true;
}

}  // namespace

HttpHead parseHttpHead(const QByteArray& head, const HttpLimits& limits) {
    HttpHead h;
    QList<QByteArray> lines = head.split('\n');
    lines.removeLast();  // after the last line's end
    if (lines.isEmpty() || !lines.front().endsWith('\r')) {
        h.refusal = 400;
        return h;
    }
    const QList<QByteArray> parts = lines.front().chopped(1).split(' ');
    if (parts.size() != 3 || !isToken(parts[0]) || (parts[2] != "HTTP/1.1" && parts[2] != "HTTP/1.0") ||
        !parts[1].startsWith('/')) {
        h.refusal = 400;
        return h;
    }
    h.request.method = parts[0];
    const QUrl url = QUrl::fromEncoded(parts[1], QUrl::StrictMode);
    if (!url.isValid()) {
        h.refusal = 400;
        return h;
    }
    h.request.path = url.path(QUrl::FullyDecoded);
    for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
        h.request.query.emplace_back(key, value);
    h.keepAlive = parts[2] == "HTTP/1.1";
    bool lengthSeen = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (!line.endsWith('\r')) {
            h.refusal = 400;
            return h;
        }
        line.chop(1);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.left(colon))) {  // also a folded line
            h.refusal = 400;
            return h;
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "content-length") {
            bool ok = false;
            const qlonglong size = value.toLongLong(&ok);
            if (!ok || size < 0 || lengthSeen || value.startsWith('+')) {
                h.refusal = 400;
                return h;
            }
            lengthSeen = true;
            if (size > limits.bodyBytes) {
                h.refusal = 413;
                return h;
            }
            h.bodySize = static_cast<qsizetype>(size);
        } else if (name == "authorization") {
            h.request.authorization = value;
        } else if (name == "transfer-encoding") {
            h.refusal = 411;
            return h;
        } else if (name == "connection") {
            const QByteArray v = value.toLower();
            if (v.contains("close"))
                h.keepAlive = false;
            else if (v.contains("keep-alive"))
                h.keepAlive = true;
        }
    }
    return h;
}

}  // namespace vozaro::platform
