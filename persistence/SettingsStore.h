#pragma once

#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/Settings.h"

namespace varnel {

inline const QString kApplicationName = QStringLiteral("Varnel");
inline const QString kSection = QStringLiteral("Parameter");
inline const QString kTimeKey = QStringLiteral("起動時刻");
inline const QString kFileKey = QStringLiteral("起動ファイル");

// The two remembered values, read when the window opens and written when it
// closes. A failure shows its message and ends the procedure; the caller
// always carries on.
class SettingsStore {
public:
    SettingsStore(ISettingsBackend& backend, const IClock& clock, const IProgramFolder& folder,
                  IMessageBox& messages);

    // Sets `launchTime`, then `launchFile`. Absent keys give the current time
    // as "HH:NN" and the program's folder. After a failed read a field not yet
    // read keeps its value.
    void LoadSettings(QString& launchTime, QString& launchFile);

    // Writes the time, then the file; after a failed write of the time the
    // file is not written.
    void SaveSettings(const QString& launchTime, const QString& launchFile);

private:
    ISettingsBackend& backend_;
    const IClock& clock_;
    const IProgramFolder& folder_;
    IMessageBox& messages_;
};

} // namespace varnel
