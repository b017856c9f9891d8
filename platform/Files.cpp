#include "platform/Files.h"

#include "platform/Messages.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <iconv.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

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

bool RegularFileOrAbsent(const QString& path) {
    struct stat st = {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR;
    return S_ISREG(st.st_mode);
}

QString XdgStateFolder::createIfAbsent() const {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(base)) {
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home))
            return QString();
        base = home + QStringLiteral("/.local/state");
    }
    const QString folder = QDir::cleanPath(base + QLatin1Char('/') + application_);
    // Each folder that has to be made is the user's alone, as the XDG
    // base-directory rules ask.
    QString made;
    for (const QString& part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        made += QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(made);
        if (::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
            return QString();
    }
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable() ? folder : QString();
}

bool InSystemFolder(const QString& folder) {
    static const char* const trees[] = {"/usr", "/opt",   "/etc",   "/bin",    "/sbin",
                                        "/lib", "/lib32", "/lib64", "/libx32", "/boot"};
    if (folder == QLatin1String("/"))
        return true;
    for (const char* tree : trees) {
        const QLatin1String t(tree);
        if (folder == t || (folder.startsWith(t) && folder.at(t.size()) == QLatin1Char('/')))
            return true;
    }
    return false;
}

namespace {

// Whether `folder` (or the folder a link there names) belongs to this user
// and nobody else may write in it: no group or other write bit.
bool FolderOfUserAlone(const QByteArray& folder) {
    struct stat st = {};
    if (::lstat(folder.constData(), &st) != 0 || st.st_uid != ::geteuid())
        return false;
    return ::stat(folder.constData(), &st) == 0 && st.st_uid == ::geteuid() &&
           S_ISDIR(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

} // namespace

bool Cp932Appender::isOwnAppendable(const QString& file) const {
    const QString folder = QDir::cleanPath(QFileInfo(file).absolutePath());
    const QByteArray folderName = QFile::encodeName(folder);
    if (InSystemFolder(folder) || !FolderOfUserAlone(folderName))
        return false;
    // A file already there: the user's own regular file, never a link, which
    // could point anywhere.
    const QByteArray name = QFile::encodeName(file);
    struct stat st = {};
    if (::lstat(name.constData(), &st) == 0)
        return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
               ::access(name.constData(), W_OK) == 0;
    return errno == ENOENT && ::access(folderName.constData(), W_OK | X_OK) == 0;
}

QByteArray EncodeCp932(const QString& text, bool* whole) {
    // The C library's converter, kept once it opens (the log is written from
    // one thread) and reset for each text; one that cannot be had now (no
    // file descriptor, no memory) is asked for again at the next text. A
    // character the code page cannot hold is skipped whole, one wide
    // character, and becomes one "?".
    static iconv_t cd = iconv_t(-1);
    if (cd == iconv_t(-1))
        cd = ::iconv_open("CP932", "WCHAR_T");
    std::wstring wide = text.toStdWString();
    QByteArray out(wide.size() * 2, '?'); // two bytes at most a character
    if (whole)
        *whole = cd != iconv_t(-1);
    if (cd == iconv_t(-1)) {
        // Meanwhile ASCII, which the code page holds as it is, and "?".
        for (qsizetype i = 0; i < qsizetype(wide.size()); ++i)
            out[i] = wide[i] < 0x80 ? char(wide[i]) : '?';
        return out.left(wide.size());
    }
    char* in = reinterpret_cast<char*>(wide.data());
    size_t inLeft = wide.size() * sizeof(wchar_t);
    char* to = out.data();
    size_t outLeft = out.size();
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    while (::iconv(cd, &in, &inLeft, &to, &outLeft) == size_t(-1) && errno == EILSEQ) {
        in += sizeof(wchar_t), inLeft -= sizeof(wchar_t);
        ++to, --outLeft; // past the "?" already there
    }
    out.truncate(to - out.constData());
    return out;
}

bool Cp932Appender::appendLine(const QString& file, const std::optional<QString>& line) {
    // Never blocking: a named pipe without a reader fails at once. Never
    // through a link put in the log's place, and only into the user's own
    // regular file: whatever else bears its name is not written to.
    const int fd = ::open(
        QFile::encodeName(file).constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW, 0666);
    if (fd < 0)
        return false;
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
        ::close(fd);
        return false;
    }
    bool ok = true;
    if (line) {
        // One write call for the whole line, so that two running copies
        // appending at once never interleave inside a line.
        bool whole = true;
        const QByteArray bytes = EncodeCp932(*line, &whole) + "\r\n";
        // The C library reads its list of converters once: one it could not
        // read then never comes back, so the loss is said, once.
        static bool said = false;
        if (!whole && !std::exchange(said, true))
            Messages::say(Messages::tr("varnel: %1: the log cannot be written in its code page "
                                       "(CP932); its Japanese is written as ?")
                              .arg(file));
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
