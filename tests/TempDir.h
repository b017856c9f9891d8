#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringDecoder>
#include <QStringList>
#include <QTemporaryDir>

namespace varnel::test {

inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

inline bool WriteAll(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The lines of a CP932 log without their CR LF; none when there is no file.
inline QStringList LogLines(const QString& path) {
    if (!QFileInfo::exists(path))
        return {};
    QString text = QStringDecoder("windows-31j").decode(ReadAll(path));
    if (text.endsWith(QStringLiteral("\r\n")))
        text.chop(2);
    return text.isEmpty() ? QStringList() : text.split(QStringLiteral("\r\n"));
}

inline QByteArray Hex(const char* spaced) {
    return QByteArray::fromHex(QByteArray(spaced));
}

} // namespace varnel::test
