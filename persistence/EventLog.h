#pragma once

#include "platform/Clock.h"
#include "platform/Files.h"

#include <QString>

namespace varnel {

// Kind code of a log line.
enum LogKind : qint32 {
    LaunchFailed = 0,
    LaunchSucceeded = 1,
    NormalEvent = 2,
};

// Heads of the window's event messages; each ends with an ideographic space.
inline const QString kOpenHead = QStringLiteral("プログラム起動　");
inline const QString kArmHead = QStringLiteral("パラメータ設定　");
inline const QString kCloseHead = QStringLiteral("プログラム終了　");

// head + time + " － " + file, the message of the open, arm and close lines.
QString EventMessage(const QString& head, const QString& launchTime, const QString& launchFile);

// The append-only event log "Varnel.LOG" beside the program, in CP932 with
// CR LF line ends. The file is opened and closed for every line.
class EventLog {
public:
    // Where the program's folder is not the user's own to write in (a
    // system-wide install, another user's folder), the log goes to
    // `stateFolder` instead.
    EventLog(const IClock& clock, const IProgramFolder& folder, ILineAppender& appender,
             const IStateFolder& stateFolder);

    // Where the log lives, chosen at the first call and kept for the run:
    // beside the program when that is the user's own to write in, otherwise
    // in the state folder. Empty when there is neither, and then nothing is
    // written.
    QString path() const;

    // Appends one line: the prefix of `kind`, the timestamp, "）：" and the
    // subject, which is `launchFile` for kinds 0 and 1 and `message` for kind
    // 2, with each control character written as "?". Any other kind writes nothing but still
    // creates the file. Failures are absorbed: the caller carries on as after a written line.
    void write(qint32 kind, const QString& message, const QString& launchFile);

    // The text of one line (without CR LF) as `write` would build it at `at`;
    // nothing for a kind that writes no line.
    static std::optional<QString> lineFor(qint32 kind, const QString& message,
                                          const QString& launchFile, LocalTime at);

private:
    QString choosePath() const;

    const IClock& clock_;
    const IProgramFolder& folder_;
    ILineAppender& appender_;
    const IStateFolder& stateFolder_;
    mutable std::optional<QString> path_;
};

} // namespace varnel
