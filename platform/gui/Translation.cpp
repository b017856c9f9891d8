#include "platform/gui/Translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace varnel {

void LoadToolkitTranslation(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    // The user's UI languages in turn (LANGUAGE, LC_ALL, LC_MESSAGES, LANG).
    if (translator->load(QLocale::system(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(translator);
    else
        delete translator;
}

} // namespace varnel
