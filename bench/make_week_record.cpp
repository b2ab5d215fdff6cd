// make_week_record FILE [ROWS]: writes a made-up run record of a week at 0.1 s (or ROWS rows) to a
// new FILE, to open in the trend window (tavrin --view FILE).
#include "bench/week_record.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: make_week_record FILE [ROWS]\n");
        return 1;
    }
    const long long rows = argc == 3 ? std::atoll(argv[2]) : bench::kWeekRows;
    if (const auto problem = bench::WriteWeekRecord(QString::fromLocal8Bit(argv[1]), rows)) {
        std::fprintf(stderr, "make_week_record: %s\n", qPrintable(*problem));
        return 1;
    }
    return 0;
}
