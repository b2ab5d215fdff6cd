// A temporary folder holding a parameter file, so that a logger started on it reads
// its settings (and therefore opens the unit) instead of creating them.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

namespace bench {

struct LoggerSettings {
    quint16 samplingTime = 10; // tenths of a second
    bool continuous = true;    // "連続計測": the run never ends by itself
};

class SettingsFolder {
public:
    // Throws std::runtime_error when the folder or the file cannot be made.
    explicit SettingsFolder(const LoggerSettings& settings = {});

    QString Path() const { return folder_.path(); }
    std::string PathString() const { return folder_.path().toStdString(); }

private:
    QTemporaryDir folder_;
};

} // namespace bench
