// Saves the known records over one parameter file, round and round, until it is killed.
// Prints "ready" once the file holds the first of them.
#include "settings/parameter_file.h"
#include "tests/settings/saver_records.h"

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s PARAMETER_FILE\n", argv[0]);
        return 2;
    }
    settings::ParameterFile file(QString::fromLocal8Bit(argv[1]));
    const auto records = settings::SaverRecords();
    for (std::size_t round = 0;; ++round) {
        if (!file.Save(records[round % records.size()])) {
            std::fprintf(stderr, "%s\n", qPrintable(file.LastError()));
            return 1;
        }
        if (round == 0) {
            std::puts("ready");
            std::fflush(stdout);
        }
    }
}
