#pragma once

#include <QString>
#include <optional>

namespace varnel {

// The file-open dialog.
class IFileDialog {
public:
    virtual ~IFileDialog() = default;
    // `filter` alternates descriptions and patterns, each followed by "|"
    // ("All (*.*)|*.*|Programs (*.exe)|*.exe|"); `filterIndex` counts its
    // entries from 1. Starts from `fileName`. Returns the full path of the
    // chosen file, or nothing when the user cancelled or the dialog failed.
    virtual std::optional<QString> openFile(const QString& filter, int filterIndex,
                                            const QString& fileName) = 0;
};

} // namespace varnel
