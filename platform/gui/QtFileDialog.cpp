#include "platform/gui/QtFileDialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

namespace varnel {

QList<QPair<QString, QString>> ParseFilterText(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QList<QPair<QString, QString>> entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (!parts.at(i).isEmpty())
            entries.append({parts.at(i), parts.at(i + 1)});
    }
    return entries;
}

bool FilterShows(const QString& pattern, const QFileInfo& info) {
    if (info.isDir())
        return true;
    const QStringList globs = pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& raw : globs) {
        const QString glob = raw.trimmed();
        if (glob == QLatin1String("*.*") || glob == QLatin1String("*"))
            return true;
        if (glob.compare(QLatin1String("*.exe"), Qt::CaseInsensitive) == 0) {
            if (info.isFile() && info.isExecutable())
                return true;
            continue;
        }
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(glob),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(info.fileName()).hasMatch())
            return true;
    }
    return false;
}

namespace {

class PatternProxy final : public QSortFilterProxyModel {
public:
    void setPattern(QString pattern) {
        pattern_ = std::move(pattern);
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files)
            return true;
        return FilterShows(pattern_, files->fileInfo(files->index(row, 0, parent)));
    }

private:
    QString pattern_;
};

} // namespace

std::optional<QString> QtFileDialog::openFile(const QString& filter, int filterIndex,
                                              const QString& fileName) {
    const auto entries = ParseFilterText(filter);
    QStringList descriptions;
    for (const auto& entry : entries)
        descriptions.append(entry.first);

    QFileDialog dialog(parent_);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    auto* proxy = new PatternProxy;
    dialog.setProxyModel(proxy);
    dialog.setNameFilters(descriptions);

    // The dialog would filter names by the patterns in the descriptions
    // itself; the proxy does the filtering instead, so clear the name filters
    // of the underlying model whenever an entry is selected.
    const auto useEntry = [&](const QString& description) {
        const qsizetype i = descriptions.indexOf(description);
        proxy->setPattern(i >= 0 ? entries.at(i).second : QStringLiteral("*"));
        if (auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel()))
            files->setNameFilters({});
    };
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, useEntry,
                     Qt::QueuedConnection);
    if (filterIndex >= 1 && filterIndex <= descriptions.size()) {
        dialog.selectNameFilter(descriptions.at(filterIndex - 1));
        useEntry(descriptions.at(filterIndex - 1));
    } else if (!descriptions.isEmpty()) {
        useEntry(descriptions.first());
    }

    const QFileInfo start(fileName);
    if (!fileName.isEmpty() && start.isDir()) {
        dialog.setDirectory(start.absoluteFilePath());
    } else if (!fileName.isEmpty()) {
        if (start.absoluteDir().exists())
            dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }

    // The toolkit sizes the detail view's columns for English samples; the
    // Japanese headers and values (sizes in バイト, types such as
    // シェルスクリプト, folder names) are wider. Once a folder is read, each
    // column is widened to what it shows, the names up to half the view so
    // that the other columns stay in sight; none is narrowed.
    auto* tree = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
    if (tree && files) {
        QObject::connect(
            files, &QFileSystemModel::directoryLoaded, tree,
            [tree] {
                QHeaderView* header = tree->header();
                const QAbstractItemView* view = tree; // where the measure is public
                for (int column = 0; column < header->count(); ++column) {
                    int wanted =
                        std::max(view->sizeHintForColumn(column), header->sectionSizeHint(column));
                    if (column == 0)
                        wanted = std::min(wanted, tree->viewport()->width() / 2);
                    if (header->sectionSize(column) < wanted)
                        header->resizeSection(column, wanted);
                }
            },
            Qt::QueuedConnection);
    }

    // The suggested name is selected once the dialog shows, as in any file
    // dialog, so that a name or path typed at once replaces it.
    if (auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
        QTimer::singleShot(0, name, [name] { name->selectAll(); });

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || !QFileInfo(chosen.first()).isFile())
        return std::nullopt;
    return QDir::cleanPath(QFileInfo(chosen.first()).absoluteFilePath());
}

} // namespace varnel
