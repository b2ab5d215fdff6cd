#include "trend/record_loader.h"

#include <QFileInfo>

namespace trend {

// One Start's files, shared by the reading thread and this one.
struct RecordLoader::Batch {
    QStringList paths;
    std::atomic<bool> cancel{false};
    std::vector<RecordRead> reads; // set by the reading thread before it hands the batch back
};

RecordLoader::RecordLoader(QObject* parent) : QObject(parent) {}

RecordLoader::~RecordLoader() {
    Stop();
}

void RecordLoader::Start(const QStringList& paths) {
    Stop();
    reads_.clear();
    auto batch = std::make_shared<Batch>();
    batch->paths = paths;
    batch_ = batch;
    thread_ = std::thread([this, batch] {
        const qsizetype files = batch->paths.size();
        for (qsizetype i = 0; i < files && !batch->cancel.load(); ++i) {
            const QString name = QFileInfo(batch->paths[i]).fileName();
            int said = -1;
            ReadControl control;
            control.cancel = &batch->cancel;
            // Only a change of a thousandth is worth an event.
            control.progress = [this, batch, i, files, &name, &said](std::uint64_t done,
                                                                     std::uint64_t total) {
                const int permille = int((double(i) + double(done) / double(total)) * 1000.0 / double(files));
                if (permille == said)
                    return;
                said = permille;
                QMetaObject::invokeMethod(
                    this,
                    [this, batch, permille, name] {
                        if (batch == batch_) // not one cancelled by a later Start
                            emit Progress(permille, name);
                    },
                    Qt::QueuedConnection);
            };
            batch->reads.push_back(ReadRecord(batch->paths[i], control));
        }
        // The last the thread does: the loader outlives it (its destructor joins it).
        QMetaObject::invokeMethod(
            this, [this, batch] { Finished(batch); }, Qt::QueuedConnection);
    });
}

void RecordLoader::Cancel() {
    if (batch_)
        batch_->cancel = true;
}

void RecordLoader::Stop() {
    if (!thread_.joinable())
        return;
    batch_->cancel = true;
    thread_.join();
    batch_.reset(); // its Finished, if already posted, now finds another batch or none
}

void RecordLoader::Finished(const std::shared_ptr<Batch>& batch) {
    if (batch != batch_)
        return;
    thread_.join(); // it has nothing left to do but end
    batch_.reset();
    const bool cancelled = batch->cancel.load();
    if (!cancelled)
        reads_ = std::move(batch->reads);
    emit Done(cancelled);
}

} // namespace trend
