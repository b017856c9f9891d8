#include "ui/CommandLine.h"

#include "platform/Messages.h"
#include "platform/gui/Translation.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

namespace varnel {

namespace {

void Declare(QCommandLineParser& parser) {
    // The toolkit's options are single words after one dash.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        Messages::tr("Starts one chosen program once a day at a chosen time of day.\nType the "
                     "time (HH:MM) and the program's path in the window, press Start (開始) and "
                     "leave the window open."));
    // The toolkit's own help option has no words in its Japanese catalogue,
    // and its --help-all would list nothing more here.
    parser.addOption(
        {{QStringLiteral("h"), QStringLiteral("help")}, Messages::tr("Displays this help.")});
    parser.addVersionOption();
    // What the toolkit reads itself, kept from the help: with a value, and
    // without.
    for (const char* name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qmljsdebugger",
          "qwindowgeometry", "qwindowicon", "qwindowtitle", "session", "display", "geometry",
          "name", "title", "icon", "style", "stylesheet", "dialogs", "fontengine"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : {"reverse", "widgetcount", "nograb", "dograb", "sync"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

} // namespace

std::optional<int> AnswerCommandLine(int& argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    {
        QCommandLineParser parser;
        Declare(parser);
        if (parser.parse(arguments) && !parser.isSet(QStringLiteral("help")) &&
            !parser.isSet(QStringLiteral("version")))
            return std::nullopt;
    }
    // An answer, then, in the user's languages; the parser's own texts are
    // the toolkit's, which need an application object (one with no display).
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));
    LoadToolkitTranslation(app);
    QCommandLineParser parser;
    Declare(parser);
    parser.process(app); // says the version or the fault, and leaves
    parser.showHelp(0);
}

} // namespace varnel
