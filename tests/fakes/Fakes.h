#pragma once
// Test doubles for the operating-system services.

#include "platform/Alarm.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/Settings.h"
#include "platform/ZoneWatch.h"

#include <QDateTime>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QTimeZone>
#include <deque>

namespace varnel::test {

// A clock that stands still until told. Without a zone it keeps UTC, so that
// `time` is the local time too; with one, `time` is the moment and the wall
// clock follows that zone's rules.
class FakeClock final : public IClock {
public:
    explicit FakeClock(Instant t = 0, const char* zone = nullptr)
        : time(t), zone_(zone ? QTimeZone(zone) : QTimeZone()) {}
    Instant instantNow() const override { return time; }
    LocalTime localAt(Instant instant) const override {
        if (!zone_.isValid())
            return instant;
        return instant + qint64(zone_.offsetFromUtc(
                             QDateTime::fromMSecsSinceEpoch(instant, QTimeZone::utc()))) *
                             kMsPerSecond;
    }
    // The zone the wall clock follows from now on (nullptr: UTC).
    void setZone(const char* zone) { zone_ = zone ? QTimeZone(zone) : QTimeZone(); }
    // Sets the clock to the first moment the wall clock shows `wall`.
    void setLocal(LocalTime wall) { time = instantOf(wall); }
    void advance(qint64 ms) { time += ms; }
    Instant time;

private:
    QTimeZone zone_;
};

// The zone watch, fired by the test.
class FakeZoneWatch final : public IZoneWatch {
public:
    void setCallback(std::function<void()> changed) override { callback = std::move(changed); }
    void fire() {
        if (callback)
            callback();
    }
    std::function<void()> callback;
};

// An alarm the test sets off.
class FakeAlarm final : public IAlarm {
public:
    void setCallback(std::function<void()> woken) override { callback = std::move(woken); }
    void arm(Instant at) override { armed = at; }
    void cancel() override { armed.reset(); }
    // Goes off now, whatever the clock says, as when the clock was set.
    void fire() {
        armed.reset();
        if (callback)
            callback();
    }
    std::optional<Instant> armed;
    std::function<void()> callback;
};

class FakeStarter final : public IProcessStarter {
public:
    bool start(const QString& command) override {
        attempts.append(command);
        if (!runnable.contains(command))
            return false;
        started.append(command);
        return true;
    }
    QSet<QString> runnable;
    QStringList attempts;
    QStringList started;
};

class FakeFolder final : public IProgramFolder {
public:
    explicit FakeFolder(QString p) : folder(std::move(p)) {}
    QString path() const override { return folder; }
    QString folder;
};

// Keeps every line it was given, per file.
class MemoryAppender final : public ILineAppender {
public:
    bool isOwnAppendable(const QString& file) const override { return !notOwn.contains(file); }
    bool appendLine(const QString& file, const std::optional<QString>& line) override {
        opened.append(file);
        if (line)
            lines.append(*line);
        return true;
    }
    QStringList opened;
    QStringList lines;
    QSet<QString> notOwn;
};

class FakeStateFolder final : public IStateFolder {
public:
    explicit FakeStateFolder(QString p) : folder(std::move(p)) {}
    QString createIfAbsent() const override {
        ++asked;
        return folder;
    }
    QString folder;
    mutable int asked = 0;
};

class FakeSettings final : public ISettingsBackend {
public:
    std::optional<QString> get(const QString& app, const QString& section, const QString& key,
                               const QString& fallback) override {
        reads.append(key);
        if (failReadOn.contains(key))
            return std::nullopt;
        const QString k = app + '/' + section + '/' + key;
        return values.contains(k) ? values.value(k) : fallback;
    }
    bool save(const QString& app, const QString& section, const QString& key,
              const QString& value) override {
        writes.append(key);
        if (failWriteOn.contains(key))
            return false;
        values.insert(app + '/' + section + '/' + key, value);
        return true;
    }
    QMap<QString, QString> values; // "app/section/key" -> value
    QSet<QString> failReadOn;
    QSet<QString> failWriteOn;
    QStringList reads;
    QStringList writes;
};

class FakeMessageBox final : public IMessageBox {
public:
    void show(const QString& text) override {
        shown.append(text);
        if (whileShown)
            whileShown();
    }
    QStringList shown;
    std::function<void()> whileShown; // what happens while the box is up
};

// Answers the dialog with the next queued result (nothing = Cancel).
class FakeFileDialog final : public IFileDialog {
public:
    std::optional<QString> openFile(const QString& f, int index, const QString& name) override {
        filter = f;
        filterIndex = index;
        fileName = name;
        ++opened;
        if (answers.empty())
            return std::nullopt;
        const bool chosen = answers.front().has_value();
        const QString path = answers.front().value_or(QString());
        answers.pop_front();
        if (!chosen)
            return std::nullopt;
        return path;
    }
    std::deque<std::optional<QString>> answers;
    QString filter;
    int filterIndex = 0;
    QString fileName;
    int opened = 0;
};

} // namespace varnel::test
