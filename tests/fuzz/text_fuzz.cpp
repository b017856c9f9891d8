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
        if (const auto t = CheckTime(typed)) {
            const auto value = TimeFromText(*t);
            check(value.has_value() && ClockText(*value) == *t);
            const auto up = StepTime(*t, +1);
            check(up.has_value() && StepTime(*up, -1) == *t);
        }
        break;
    }
    case 1: { // the stepper: any result is a time the check accepts
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), size / 2);
        for (const int direction : {+1, -1}) {
            if (const auto stepped = StepTime(text, direction))
                check(CheckTime(*stepped) == *stepped);
        }
        break;
    }
    default: { // a log line: 19-character stamp, CP932 without a NUL
        const qint32 kind = static_cast<qint32>(readInt(data, size));
        // Any moment within ten thousand years either side of 1970.
        const LocalTime at = readInt(data, size) % (kMsPerDay * 366 * 10'000);
        const QString text = QString::fromUtf16(reinterpret_cast<const char16_t*>(data), size / 2);
        const auto line = EventLog::lineFor(kind, text, text, at);
        check(line.has_value() == (kind >= 0 && kind <= 2));
        if (line) {
            check(line->mid(6, 19).size() == 19);
            const QByteArray bytes = EncodeCp932(*line);
            check(!bytes.contains('\0') && bytes.size() >= line->size());
        }
        break;
    }
    }
    return 0;
}
