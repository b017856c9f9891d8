#include "persistence/EventLog.h"

namespace varnel {

QString EventMessage(const QString& head, const QString& launchTime, const QString& launchFile) {
    return head + launchTime + QStringLiteral(" － ") + launchFile;
}

EventLog::EventLog(const IClock& clock, const IProgramFolder& folder, ILineAppender& appender)
    : clock_(clock), folder_(folder), appender_(appender) {}

QString EventLog::path() const {
    QString p = folder_.path();
    if (!p.endsWith(QLatin1Char('/')))
        p += QLatin1Char('/');
    return p + QStringLiteral("Varnel.LOG");
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
    return prefix + StampText(at) + QStringLiteral("）：") + subject;
}

void EventLog::write(qint32 kind, const QString& message, const QString& launchFile) {
    // A kind without a line still opens (and so creates) the file. A failed
    // append is reported to no one: the log never disturbs its callers.
    (void)appender_.appendLine(path(), lineFor(kind, message, launchFile, clock_.now()));
}

} // namespace varnel
