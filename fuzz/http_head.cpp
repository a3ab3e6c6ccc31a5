// Feeds arbitrary request heads to the web server's reader.  A head it takes
// must ask for a path with a method, and declare no body over the limit; one
// it refuses must be refused with a status the server sends.
#include <cstddef>
#include <cstdint>

#include "platform/network/HttpHead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const vozaro::platform::HttpLimits limits;
    if (size > static_cast<std::size_t>(limits.headBytes))
        return 0;
    // As the server hands it on: ending in CR LF.
    const QByteArray head = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)) + "\r\n";
    const vozaro::platform::HttpHead parsed = vozaro::platform::parseHttpHead(head, limits);
    const bool taken = parsed.refusal == 0 && !parsed.request.method.isEmpty() && parsed.bodySize >= 0 &&
                       parsed.bodySize <= limits.bodyBytes;
    const bool refused = parsed.refusal == 400 || parsed.refusal == 411 || parsed.refusal == 413;
    if (!taken && !refused)
        __builtin_trap();
    return 0;
}
