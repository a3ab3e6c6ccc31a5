#include "platform/network/HttpService.h"

namespace vozaro::platform {

const QString* HttpRequest::queryItem(const QString& name) const {
    for (const auto& [key, value] : query)
        if (key == name)
            return &value;
    return nullptr;
}

}  // namespace vozaro::platform
