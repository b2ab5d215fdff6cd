#include "acquisition/sample_words.h"

#include <cstdio>
#include <cstdlib>

namespace acquisition {

std::string_view NoteWord(SampleNote note) {
    switch (note) {
    case SampleNote::None:
        return {};
    case SampleNote::NoFrame:
        return "no frame";
    case SampleNote::NoReply:
        return "no reply";
    case SampleNote::UnitLost:
        return "unit lost";
    case SampleNote::UnitBack:
        return "unit back";
    case SampleNote::CutShort:
        return "request cut short by stop";
    }
    return {};
}

void AppendTimeText(std::string& out, const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    const int offset = time.offsetFromUtc();
    const int offsetMinutes = std::abs(offset) / 60;
    const int year = d.year() < 0 ? d.year() + 1 : d.year();
    char text[48];
    const int n = std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", year,
                                d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                                offset < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    out.append(text, std::size_t(n));
}

std::string TimeText(const QDateTime& time) {
    std::string text;
    AppendTimeText(text, time);
    return text;
}

} // namespace acquisition
