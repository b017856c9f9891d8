#pragma once

#include <QObject>

class QSocketNotifier;

namespace varnel {

// Turns SIGTERM, SIGINT and SIGHUP into a Qt signal delivered on the event
// loop, so that the program can close down in an orderly way; SIGPIPE is
// ignored.
class StopSignals final : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested(int signalNumber);

private:
    void drain();
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace varnel
