// The parameter file: one 30-byte settings record, read once at start-up and rewritten whole
// on every change.
#pragma once

#include "settings/param_record.h"

#include <QString>

namespace settings {

inline constexpr const char* kParameterFileName = "ombu01.par";

enum class LoadOutcome {
    Read,       // the file was read; the record holds its bytes
    Created,    // it could not be read, so it was created holding the record given to Load
    Unavailable // it could be neither read nor created; the record is the one given to Load
};

struct LoadResult {
    LoadOutcome outcome;
    ParamRecord record;
};

class ParameterFile {
public:
    explicit ParameterFile(QString path);

    QString Path() const;

    // Reads the first 30 bytes; a short file's missing bytes read as kMissingByte. A file that
    // cannot be read is created holding recordToCreate.
    LoadResult Load(const ParamRecord& recordToCreate);

    // Replaces the file as a whole: the record goes to a temporary file in the same folder,
    // reaches the disk, and is then renamed over the old file, so a crash or power cut leaves
    // either the old record or the new one, never a short file. A read-only file or folder is
    // left as it is and the result is false.
    bool Save(const ParamRecord& record);

    // Why the last Load or Save could not use the file, for the log; empty after a success.
    QString LastError() const;

private:
    QString path_;
    QString lastError_;
};

} // namespace settings
