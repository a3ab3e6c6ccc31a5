// The head of an HTTP/1.x request, as the web server reads it: what it asks
// for, or the status to refuse it with.
#pragma once

#include <QByteArray>

#include "platform/network/HttpService.h"

namespace vozaro::platform {

struct HttpHead {
    int refusal = 0;  // 400 malformed, 411 a transfer coding, 413 a declared body over the limit
    HttpRequest request;  // method, path and query (no body, no client)
    qsizetype bodySize = 0;  // declared
    bool keepAlive = true;
};

// `head`: its lines, each ending in CR LF, without the closing empty line;
// its size and number of lines are checked before.
HttpHead parseHttpHead(const QByteArray& head, const HttpLimits& limits);

}  // namespace vozaro::platform
