// The parameter file: one 30-byte settings record, read once at start-up and rewritten whole
// on every change.
#pragma once

#include "settings/param_record.h"

#include <QString>

namespace settings {

inline constexpr const char* kParameterFileName = "ombu01.par";

enum class LoadOutcome {
    Read,        // the file was read; the record holds its bytes
    Created,     // there was none, so it was created holding the record given to Load
    Unavailable, // there was none and it could not be created; the record is the one given to Load
    LeftAlone    // something stands at the name that cannot be read (not a regular file, no read
                 // permission, a read error): it is left as it is; the record is the one given to Load
};

struct LoadResult {
    LoadOutcome outcome;
    ParamRecord record;
};

class ParameterFile {
public:
    explicit ParameterFile(QString path);

    QString Path() const;

    // First removes the temporary files that saves cut short by a kill left beside the file
    // ("ombu01.par.tmp-XXXXXX", none that a save in progress holds).
    // Reads the first 30 bytes; a short file's missing bytes read as kMissingByte. A missing
    // file is created holding recordToCreate. Never blocks: a FIFO or device at the name is
    // refused without being opened.
    LoadResult Load(const ParamRecord& recordToCreate);

    // Replaces the file as a whole through storage::ReplaceFile, so a crash, a power cut or a
    // full disk leaves either the old record or the new one, never a short file. A link the
    // user made stays a link: its target is replaced when it is a regular file, and anything
    // else (device, FIFO, folder) is refused. A read-only file or folder is left as it is. The
    // result is false after any failure.
    bool Save(const ParamRecord& record);

    // Why the last Load or Save could not use the file, naming its folder and the cause, for
    // the log; empty after a success.
    QString LastError() const;

private:
    void RemoveStaleTemporaries() const;
    QString Problem(const char* message, const QString& cause) const;

    QString path_;
    QString lastError_;
};

} // namespace settings
