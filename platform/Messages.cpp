#include "platform/Messages.h"

#include <QLocale>
#include <QTranslator>

#include <cstdio>

namespace varnel {

QString Messages::tr(const char* sourceText) {
    // Read once, for the life of the process; English needs no catalogue.
    static const QTranslator* const catalogue = [] {
        auto* translator = new QTranslator;
        (void)translator->load(QLocale::system(), QStringLiteral("varnel"), QStringLiteral("_"),
                               QStringLiteral(":/i18n"));
        return translator;
    }();
    const QString said = catalogue->translate("Messages", sourceText);
    return said.isEmpty() ? QString::fromUtf8(sourceText) : said;
}

void Messages::say(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
}

} // namespace varnel
