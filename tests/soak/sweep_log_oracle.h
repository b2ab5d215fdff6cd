// What the run log must hold, rebuilt from the reads themselves: for each file
// index, the three header lines the log starts with, then every reply read while
// the form's FileIndex had that value, as the log takes it (up to its first zero
// byte), every line ended by CR LF. Saved files are checked against it as soon as
// the run has moved past them, and forgotten then, so a long run keeps only its
// current sweep here.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QStringList>

#include <functional>
#include <map>
#include <string_view>

namespace soak {

class SweepLogOracle {
public:
    // header(fileIndex): the three lines a log saved under that index begins with.
    explicit SweepLogOracle(std::function<QStringList(quint16 fileIndex)> header);

    // START: the log begins afresh under index 0; older expectations no longer apply.
    void Restart();
    // A successful read, logged while FileIndex was fileIndex.
    void Read(quint16 fileIndex, std::string_view bytes);

    // The log's bytes for fileIndex as its file would hold them.
    QByteArray Expected(quint16 fileIndex) const;

    // Checks the saved text file of every index below fileIndex not checked yet
    // (folder/baseName + index + ".txt", with its chart file beside it), then
    // forgets those indexes. Returns one line per mismatch.
    QStringList CheckSavedBelow(quint16 fileIndex, const QDir& folder, const QString& baseName);

    long Reads() const { return reads_; }
    long FrameErrors() const { return frameErrors_; }
    int FilesChecked() const { return filesChecked_; }

private:
    std::function<QStringList(quint16)> header_;
    std::map<quint16, QByteArray> logged_; // the logged lines of each open index, CR LF ended
    long reads_ = 0;
    long frameErrors_ = 0;
    int filesChecked_ = 0;
};

// Where two byte strings first differ, in words, or empty when they are equal.
QString FirstDifference(const QByteArray& expected, const QByteArray& actual);

} // namespace soak
