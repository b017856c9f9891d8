#include "persistence/SettingsStore.h"

namespace varnel {

SettingsStore::SettingsStore(ISettingsBackend& backend, const IClock& clock,
                             const IProgramFolder& folder, IMessageBox& messages)
    : backend_(backend), clock_(clock), folder_(folder), messages_(messages) {}

void SettingsStore::LoadSettings(QString& launchTime, QString& launchFile) {
    const std::optional<QString> time =
        backend_.get(kApplicationName, kSection, kTimeKey, ClockText(clock_.now()));
    if (time) {
        launchTime = *time;
        const std::optional<QString> file =
            backend_.get(kApplicationName, kSection, kFileKey, folder_.path());
        if (file) {
            launchFile = *file;
            return;
        }
    }
    messages_.show(QStringLiteral("前回設定内容の取得に失敗しました。"));
}

void SettingsStore::SaveSettings(const QString& launchTime, const QString& launchFile) {
    const bool saved = backend_.save(kApplicationName, kSection, kTimeKey, launchTime) &&
                       backend_.save(kApplicationName, kSection, kFileKey, launchFile);
    if (saved)
        return;
    messages_.show(QStringLiteral("設定内容の保存に失敗しました。"));
}

} // namespace varnel
