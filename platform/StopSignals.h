#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

namespace varnel {

// Turns the stop signals this process heeds into a Qt signal delivered on the
// event loop, so that the program can close down in an orderly way; SIGPIPE
// is ignored.
class StopSignals final : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

    // SIGTERM, SIGINT and SIGHUP, less any that this process was started with
    // set to be ignored (nohup, a shell's background job): those the user
    // asked to be ignored stay ignored.
    static sigset_t Heeded();

signals:
    void stopRequested(int signalNumber);

private:
    void drain();
    QSocketNotifier* notifier_ = nullptr;
    sigset_t caught_;
};

} // namespace varnel
