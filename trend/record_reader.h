// Reading a run record (the CSV each START writes) back into a trace, fast
// enough for a week's 6,048,000 rows: the file is mapped, not copied, each row
// parsed in place with no text object made for it, the clock time worked out
// arithmetically. Opening never writes anything.
//
// A file that cannot be read whole says why, naming the file and the line; the
// whole rows before the bad one are kept. A torn last row (the logger was
// killed while writing it) is left out and said gently.
#pragma once

#include "trend/trace.h"

#include <QString>
#include <memory>
#include <string_view>

namespace trend {

struct RecordRead {
    std::unique_ptr<Trace> trace; // the rows read; null when there is not one
    QString problem;              // empty when the file was read whole
    bool onlyTorn = false;        // the problem is a torn last row: everything else is there
};

// Reads the record at `path`. The trace is named after the file.
RecordRead ReadRecord(const QString& path);

// Reads a record's bytes; `name` is the file's name in the messages and the trace's name.
RecordRead ReadRecordBytes(std::string_view bytes, const QString& name);

} // namespace trend
