// What the trend window saves: the view as a picture (PNG, PDF or SVG, told by
// the file name's suffix) and the rows of the visible time range as a slice of
// the run record, in the record's own columns and bytes. Every file goes
// through the one save path: it lands whole or the old one stays.
#pragma once

#include "report/failure.h"

#include "trend/trace.h"

#include <QString>
#include <QStringList>
#include <optional>

class QCustomPlot;

namespace trend {

// Where SaveSlice puts the statistics of the slice at `slicePath`: "<name>.stats.csv" beside it.
QString StatsPath(const QString& slicePath);

// The files a save would write, refused whole when one is the record of a run still being written
// (it holds it locked): why, or nothing. Every save here checks first, so that nothing is written.
report::Done NoLiveRecordAmong(const QStringList& paths);

// Why the picture could not be saved, or nothing. A file at `path` is replaced, unless it is a run's
// record still being written.
report::Done SavePicture(QCustomPlot& plot, const QString& path);

// The rows of `trace` whose keys lie in [fromS, toS], with the record's header and the trace's channels,
// and beside it "<name>.stats.csv", the statistics of the same rows in the channels' units (or in
// volts). Why not, or nothing; neither is written when either name is a run's record still being written.
report::Done SaveSlice(const Trace& trace, Trace::Keys keys, double fromS, double toS, const QString& path,
                       bool volts = false);

} // namespace trend
