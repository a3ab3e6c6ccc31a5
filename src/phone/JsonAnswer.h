// The phones' server's answers: JSON bodies, refusals in Portuguese, and
// answers worked out on the user-interface thread.
#pragma once

#include <QJsonDocument>
#include <QObject>
#include <QString>

#include <functional>

#include "platform/network/HttpService.h"

namespace vozaro::stage {

platform::HttpResponse jsonAnswer(int status, const QJsonDocument& document);
// {"erro": why}
platform::HttpResponse refusalAnswer(int status, const QString& why);

// Runs answers on the thread the object was made on (the user-interface
// thread) and sends what they give; one that throws is answered 500.
class UiThreadAnswers {
public:
    void answer(std::function<platform::HttpResponse()> answer, platform::HttpResponder respond);

private:
    QObject ui_;
};

}  // namespace vozaro::stage
