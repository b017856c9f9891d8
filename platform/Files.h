#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace varnel {

// Whether `path` is a regular file or absent (its folder may be absent too):
// what may be opened without blocking on a named pipe or a device.
bool RegularFileOrAbsent(const QString& path);

// Whether `folder` (clean and absolute) is where the system keeps its own
// programs and data, whole path components counted: the root folder, /usr,
// /opt, /etc and the like. No log of anybody's goes there, root's included.
bool InSystemFolder(const QString& folder);

// Whether a path names a file that the launcher can be armed with.
class IFileMatcher {
public:
    virtual ~IFileMatcher() = default;
    // True when `path`, taken literally (no wildcards) and relative to the
    // current folder when it is relative, names an existing regular file that
    // is not hidden. Folders, devices, sockets and pipes never match.
    virtual bool matchesFile(const QString& path) const = 0;
};

class FileMatcher final : public IFileMatcher {
public:
    bool matchesFile(const QString& path) const override;
};

// The folder that holds the running program.
class IProgramFolder {
public:
    virtual ~IProgramFolder() = default;
    // No trailing separator, except for the root folder "/".
    virtual QString path() const = 0;
};

class ExecutableFolder final : public IProgramFolder {
public:
    QString path() const override;
};

// The user's own folder for what a program keeps between runs.
class IStateFolder {
public:
    virtual ~IStateFolder() = default;
    // Creates the folder (and those above it, private to the user) when
    // absent, and gives its path; empty when it cannot be had.
    virtual QString createIfAbsent() const = 0;
};

// $XDG_STATE_HOME/<application>, or ~/.local/state/<application>.
class XdgStateFolder final : public IStateFolder {
public:
    explicit XdgStateFolder(QString application) : application_(std::move(application)) {}
    QString createIfAbsent() const override;

private:
    QString application_;
};

// Appends one line of text to a file, opening and closing it every time.
class ILineAppender {
public:
    virtual ~ILineAppender() = default;
    // Whether `file` is this user's own to append to, where nobody else can
    // write: the folder belongs to the user, has no group or other write bit
    // and is none of the system's (the root folder, /usr, /opt, /etc and the
    // like); the file is absent, or a regular file of the user's (not a link)
    // that the user can write.
    virtual bool isOwnAppendable(const QString& file) const = 0;
    // Opens `file` for appending (creating it when absent), writes `line` in
    // CP932 followed by CR LF when a line is given, and closes the file.
    // Writes only into a regular file of the user's, never through a link.
    // Returns false when any step failed.
    virtual bool appendLine(const QString& file, const std::optional<QString>& line) = 0;
};

class Cp932Appender final : public ILineAppender {
public:
    bool isOwnAppendable(const QString& file) const override;
    bool appendLine(const QString& file, const std::optional<QString>& line) override;
};

// CP932 bytes of `text` (the C library's code page), one "?" for each character
// the code page cannot hold. Without a converter (`whole` is then false), its
// ASCII as it is and "?" for the rest.
QByteArray EncodeCp932(const QString& text, bool* whole = nullptr);

} // namespace varnel
