#pragma once

#include <QString>

namespace varnel {

// The program's own words outside its window: what it writes on standard
// error and says on its command line. They follow the user's UI languages
// (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) as the toolkit's own texts do, from
// the catalogue built into the program; unlike QObject::tr() they need no
// application object, so a start speaks before its toolkit is up, or
// without it.
class Messages {
public:
    static QString tr(const char* sourceText);
    // The line and a line end on standard error.
    static void say(const QString& line);
};

} // namespace varnel
