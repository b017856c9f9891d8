#pragma once

#include "persistence/EventLog.h"
#include "persistence/SettingsStore.h"
#include "platform/Alarm.h"
#include "platform/Clock.h"
#include "platform/FileDialog.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Process.h"
#include "platform/Settings.h"
#include "platform/ZoneWatch.h"
#include "scheduler/KickTimer.h"
#include "scheduler/Schedule.h"
#include "ui/Controls.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

namespace varnel {

// Every service of the operating system the window uses.
struct Services {
    const IClock& clock;
    IAlarm& alarm;
    IZoneWatch& zoneWatch;
    IProcessStarter& starter;
    const IFileMatcher& files;
    const IProgramFolder& folder;
    const IStateFolder& stateFolder;
    ILineAppender& appender;
    ISettingsBackend& settings;
    IMessageBox& messages;
    IFileDialog& fileDialog;
};

// The filter list of the file chooser: all files first, programs preselected.
inline const QString kChooserFilter =
    QStringLiteral("すべてのファイル (*.*)|*.*|実行ファイル (*.exe)|*.exe|");
constexpr int kChooserPreselected = 2;

// The program's one window.
class frmTockle final : public QWidget {
    Q_OBJECT
public:
    explicit frmTockle(const Services& services, QWidget* parent = nullptr);

    // The opening sequence; runs once, before the window is first shown.
    void Form_Load();
    // The closing sequence; runs once per run, however the close comes.
    void Form_Unload();
    bool unloaded() const { return unloaded_; }

    // A close asked for from outside (a signal, the end of the session).
    // During the opening sequence it waits until that has finished.
    void requestClose();

    const WindowState& state() const { return state_; }
    bool kickEnabled() const { return tmrKick->isActive(); }

    // The handlers, named after their control and event.
    void cmdStart_Click();
    void cmdStop_Click();
    void tmrKick_Timer(ClockReading now);
    void cmdTimeUp_Click();
    void cmdTimeDown_Click();
    void tmrMouse_Timer();
    void txtFile_DblClick();

signals:
    // The closing sequence has begun: the window ends with it, whatever box
    // it shows first.
    void closing();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void WriteLog(qint32 kind = LaunchSucceeded, const QString& message = QString());
    void SelectAllText(QLineEdit* field);
    bool EnterToTab(int& keyCode);
    void stepTime(int direction);
    void mouseDown(qint32 direction);
    void endRepeat();
    void setKickEnabled(bool enabled);

    const Services services_;
    WindowState state_;
    EventLog log_;
    SettingsStore store_;
    LaunchTick tick_;

    QWidget* picInput;
    TextBox* txtTime;
    QPushButton* cmdTimeDown;
    QPushButton* cmdTimeUp;
    TextBox* txtFile;
    QPushButton* cmdStart;
    QWidget* picRun;
    QPushButton* cmdStop;
    QLabel* lblTime;
    QLabel* lblFile;
    QLabel* Label[4];
    KickTimer* tmrKick;
    QTimer* tmrMouse;

    bool loading_ = false;
    bool pendingClose_ = false;
    bool unloaded_ = false;
};

} // namespace varnel
