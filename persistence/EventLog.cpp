#include "persistence/EventLog.h"

namespace varnel {

namespace {

// A file name may hold line breaks and other control characters; in the log
// each becomes "?", so that one event stays one line and no name can pass for
// an entry of its own.
QString OneLine(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7F && u <= 0x9F))
            c = QLatin1Char('?');
    }
    return out;
}

} // namespace

QString EventMessage(const QString& head, const QString& launchTime, const QString& launchFile) {
    return head + launchTime + QStringLiteral(" － ") + launchFile;
}

EventLog::EventLog(const IClock& clock, const IProgramFolder& folder, ILineAppender& appender,
                   const IStateFolder& stateFolder)
    : clock_(clock), folder_(folder), appender_(appender), stateFolder_(stateFolder) {}

QString EventLog::path() const {
    if (!path_)
        path_ = choosePath();
    return *path_;
}

QString EventLog::choosePath() const {
    const auto in = [](QString folder) {
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        return folder + QStringLiteral("Varnel.LOG");
    };
    const QString folder = folder_.path();
    const QString beside = folder.isEmpty() ? QString() : in(folder);
    if (!beside.isEmpty() && appender_.isOwnAppendable(beside))
        return beside;
    const QString state = stateFolder_.createIfAbsent();
    return state.isEmpty() ? QString() : in(state);
}

std::optional<QString> EventLog::lineFor(qint32 kind, const QString& message,
                                         const QString& launchFile, LocalTime at) {
    QString prefix;
    switch (kind) {
    case LaunchFailed:
        prefix = QStringLiteral("×起動失敗（");
        break;
    case LaunchSucceeded:
        prefix = QStringLiteral("○起動成功（");
        break;
    case NormalEvent:
        prefix = QStringLiteral("－通常処理（");
        break;
    default:
        return std::nullopt;
    }
    const QString& subject = kind == NormalEvent ? message : launchFile;
    return prefix + StampText(at) + QStringLiteral("）：") + OneLine(subject);
}

void EventLog::write(qint32 kind, const QString& message, const QString& launchFile) {
    // A kind without a line still opens (and so creates) the file. A failed
    // append is reported to no one: the log never disturbs its callers.
    // Without the program's folder there is nowhere to write.
    const QString file = path();
    if (file.isEmpty())
        return;
    (void)appender_.appendLine(file, lineFor(kind, message, launchFile, clock_.now()));
}

} // namespace varnel
