#pragma once

#include "platform/FileDialog.h"

#include <QList>
#include <QPair>

class QFileInfo;
class QWidget;

namespace varnel {

// Qt's own file-open dialog. Filter patterns are read the way a Linux user
// expects: "*.*" lists every file (dot or no dot) and "*.exe" lists the files
// that can be started here, i.e. regular files with an execute permission,
// whatever their name; folders are always listed so that one can move around.
class QtFileDialog final : public IFileDialog {
public:
    std::optional<QString> openFile(const QString& filter, int filterIndex,
                                    const QString& fileName) override;
    // The window the dialog belongs to: it opens over it and stays with it.
    void setParentWindow(QWidget* window) { parent_ = window; }

private:
    QWidget* parent_ = nullptr;
};

// "desc|pattern|desc|pattern|" as (description, pattern) pairs.
QList<QPair<QString, QString>> ParseFilterText(const QString& filter);

// Whether the dialog lists `info` while the entry with `pattern` is selected.
bool FilterShows(const QString& pattern, const QFileInfo& info);

} // namespace varnel
