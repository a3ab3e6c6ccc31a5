#include "platform/ui/UiApplication.h"

#include <QLibraryInfo>
#include <QTranslator>

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

bool installPortugueseDialogTexts(QApplication& application) {
    auto* translator = new QTranslator(&application);
    if (!translator->load(QStringLiteral("qtbase_pt_BR"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QApplication::installTranslator(translator);
}

}  // namespace vozaro::platform
