#include "phone/JsonAnswer.h"

#include <QJsonObject>

namespace vozaro::stage {

using platform::HttpResponse;

HttpResponse jsonAnswer(int status, const QJsonDocument& document) {
    return HttpResponse{status, "application/json; charset=utf-8", document.toJson(QJsonDocument::Compact)};
}

HttpResponse refusalAnswer(int status, const QString& why) {
    return jsonAnswer(status, QJsonDocument(QJsonObject{{QStringLiteral("erro"), why}}));
}

void UiThreadAnswers::answer(std::function<HttpResponse()> answer, platform::HttpResponder respond) {
    QMetaObject::invokeMethod(
        &ui_,
        [answer = std::move(answer), respond = std::move(respond)] {
            HttpResponse response;
            try {
                response = answer();
            } catch (...) {
                response = HttpResponse{500, {}, {}};
            }
            respond(std::move(response));
        },
        Qt::QueuedConnection);
}

}  // namespace vozaro::stage
