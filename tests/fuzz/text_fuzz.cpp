// Feeds arbitrary text to what the user types and to what goes into the log.
#include "persistence/EventLog.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "scheduler/Schedule.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace varnel;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

qint64 readInt(const uint8_t*& data, size_t& size) {
    qint64 v = 0;
    const size_t n = size < sizeof v ? size : sizeof v;
    std::memcpy(&v, data, n);
    data += n;
    size -= n;
    return v;
}

// The bytes as UTF-16 code units, copied out: the input has no alignment.
QString Utf16(const uint8_t* data, size_t size) {
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, size / 2 * 2);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    const uint8_t mode = data[0] % 3;
    ++data;
    --size;
    switch (mode) {
    case 0: { // the time check: whatever it accepts can fire and can be stepped
        const QString typed = QString::fromUtf8(reinterpret_cast<const char*>(data), size);
        // Each form of a time of day is the stricter one widened: what a
        // stricter form reads, a looser one reads the same.
        if (const auto exact = ReadTimeOfDay(typed, TimeForm::Exact))
            check(ReadTimeOfDay(typed, TimeForm::Trimmed) == exact && ClockText(*exact) == typed);
        if (const auto t = ReadTimeOfDay(typed, TimeForm::Trimmed))
            check(ReadTimeOfDay(typed.trimmed(), TimeForm::Loose) == t);
        if (const auto t = CheckTime(typed)) {
            const auto value = ReadTimeOfDay(*t, TimeForm::Exact);
            check(value.has_value() && ClockText(*value) == *t);
            const auto up = StepTime(*t, +1);
            check(up.has_value() && StepTime(*up, -1) == *t);
        }
        break;
    }
    case 1: { // the stepper: any result is a time the check accepts
        const QString text = Utf16(data, size);
        for (const int direction : {+1, -1}) {
            if (const auto stepped = StepTime(text, direction))
                check(CheckTime(*stepped) == *stepped);
        }
        break;
    }
    default: { // a log line: one line of CP932 with the stamp in its place
        const qint32 kind = static_cast<qint32>(readInt(data, size));
        // Any moment of the years 1970 to 9999.
        const LocalTime at = static_cast<LocalTime>(static_cast<quint64>(readInt(data, size)) %
                                                    quint64(MakeLocalTime(10000, 1, 1, 0, 0)));
        const QString text = Utf16(data, size);
        const auto line = EventLog::lineFor(kind, text, text, at);
        check(line.has_value() == (kind >= 0 && kind <= 2));
        if (line) {
            check(line->mid(6, 19) == StampText(at) && line->mid(25, 2) == QStringLiteral("）："));
            // No byte of a CP932 character is below 0x20 or 0x7F, so none of
            // these can come from anything but a control character.
            const QByteArray bytes = EncodeCp932(*line);
            for (const char b : bytes)
                check(static_cast<unsigned char>(b) >= 0x20 && b != 0x7F);
        }
        break;
    }
    }
    return 0;
}
