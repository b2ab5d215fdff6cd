// Run records read on a thread of their own: a week's record takes seconds,
// and the window, and a run going on in the same program, stay live meanwhile.
// What was read is handed back on the thread that asked for it.
#pragma once

#include "trend/record_reader.h"

#include <QObject>
#include <QStringList>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace trend {

class RecordLoader : public QObject {
    Q_OBJECT

public:
    explicit RecordLoader(QObject* parent = nullptr);
    // A read going on is cancelled and its thread joined: it stops within a chunk.
    ~RecordLoader() override;

    // Starts reading `paths` in turn. A read going on is cancelled first and hands back nothing.
    void Start(const QStringList& paths);
    // The read going on stops; Done follows, cancelled, once its thread has ended.
    void Cancel();
    bool Busy() const { return batch_ != nullptr; }

    // The records of the read that has just ended, in the order asked for.
    std::vector<RecordRead> TakeReads() { return std::move(reads_); }

signals:
    // How far the read has come, in thousandths of its files, and the file being read.
    void Progress(int permille, const QString& name);
    // The read has ended; when cancelled, nothing of it is kept.
    void Done(bool cancelled);

private:
    struct Batch;

    void Stop();
    void Finished(const std::shared_ptr<Batch>& batch);

    std::shared_ptr<Batch> batch_;
    std::thread thread_;
    std::vector<RecordRead> reads_;
};

} // namespace trend
