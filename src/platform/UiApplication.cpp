#include "platform/UiApplication.h"

#include "platform/MessageBox.h"

namespace vozaro::platform {

bool VozaroApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        reportUncaughtError(std::current_exception());
        return false;
    }
}

}  // namespace vozaro::platform
