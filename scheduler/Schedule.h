#pragma once

#include "persistence/EventLog.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Process.h"

#include <QString>
#include <limits>
#include <optional>

namespace varnel {

enum RepeatDirectionValue : qint32 {
    RepeatNone = 0,
    RepeatUp = 1,
    RepeatDown = 2,
};

// The schedule state the window keeps for its whole lifetime.
struct WindowState {
    QString LaunchTime;                  // normally "HH:NN"
    QString LaunchFile;                  // path of the program to start
    bool Launched = false;               // true from a launch until the clock leaves that minute
    qint32 RepeatDirection = RepeatNone; // which stepper button is held
};

// The once-a-second launch decision. Starts `LaunchFile` on the first tick
// whose clock reads `LaunchTime`, once in that minute, and logs every attempt.
class LaunchTick {
public:
    LaunchTick(WindowState& state, const IClock& clock, IProcessStarter& starter, EventLog& log);

    void run();
    // The same with a clock reading the caller already has (the fraction of
    // the second is dropped, as for any reading).
    void runAt(ClockReading reading);

private:
    WindowState& state_;
    // The wall-clock minute (with its date) of the last launch, so that a
    // minute the clocks show twice launches once.
    LocalTime launchedMinute_ = std::numeric_limits<LocalTime>::min();
    const IClock& clock_;
    IProcessStarter& starter_;
    EventLog& log_;
};

// Whether the wall-clock minute holding `local` is the launch minute of its
// day: the minute `launchTime` names or, on a day the clocks skip over that
// time, the first minute after the jump.
bool InLaunchMinute(const IClock& clock, LocalTime local, const QString& launchTime);

// The next moment an armed tick can matter, from `reading`: the next whole
// second inside the launch minute, otherwise the first moment of the next
// launch minute. Nothing when the launch time is none the clock shows.
std::optional<Instant> NextTickAt(const IClock& clock, ClockReading reading,
                                  const WindowState& state);

// A time as a Japanese input method types it, in ASCII: the full-width
// digits, colon and ideographic space become 0-9, ":" and " ", one character
// for one, so a caret keeps its place. Nothing else is changed.
QString FoldTimeText(QString text);

// The launch time as the user typed it, checked: folded as above, blanks at
// both ends dropped, the rest must be "HH:MM" with hour 00-23 and minute
// 00-59. Gives the time as the clock shows it, or nothing.
std::optional<QString> CheckTime(const QString& typed);

// The launch file as typed, checked: an existing regular file that is not
// hidden, matched literally.
bool CheckFile(const IFileMatcher& files, const QString& typed);

// One stepper step from `launchTime`: `direction` +1 adds and -1 subtracts
// MinuteStep, wrapping round midnight. Nothing for a text that is no time.
std::optional<QString> StepTime(const QString& launchTime, int direction);

} // namespace varnel
