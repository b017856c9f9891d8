#include "platform/Files.h"

#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <system_error>
#include <unistd.h>

namespace varnel {

bool FileMatcher::matchesFile(const QString& path) const {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.isFile() && !info.fileName().startsWith(QLatin1Char('.'));
}

QString ExecutableFolder::path() const {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return QString();
    const std::filesystem::path folder = exe.parent_path();
    return QFile::decodeName(folder.empty() ? "/" : folder.c_str());
}

QByteArray EncodeCp932(const QString& text) {
    // The converter writes one NUL for each character the code page cannot
    // hold; CP932 never uses a NUL byte inside a character, so every NUL left
    // in the result stands for such a character (or for a NUL in the text).
    QStringEncoder encoder("windows-31j", QStringConverter::Flag::ConvertInvalidToNull);
    QByteArray out = encoder.encode(text);
    out.replace('\0', '?');
    return out;
}

bool Cp932Appender::appendLine(const QString& file, const std::optional<QString>& line) {
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    bool ok = true;
    if (line) {
        // One write call for the whole line, so that two running copies
        // appending at once never interleave inside a line.
        const QByteArray bytes = EncodeCp932(*line) + "\r\n";
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = false;
                break;
            }
            done += n;
        }
    }
    if (::close(fd) != 0)
        ok = false;
    return ok;
}

} // namespace varnel
