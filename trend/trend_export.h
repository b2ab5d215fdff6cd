// What the trend window saves: the view as a picture (PNG, PDF or SVG, told by
// the file name's suffix) and the rows of the visible time range as a slice of
// the run record, in the record's own columns and bytes. Every file goes
// through the one save path: it lands whole or the old one stays.
#pragma once

#include "report/failure.h"

#include "trend/trace.h"

#include <QString>
#include <optional>

class QCustomPlot;

namespace trend {

// Why the picture could not be saved, or nothing.
report::Done SavePicture(QCustomPlot& plot, const QString& path);

// The rows of `trace` whose keys lie in [fromS, toS], with the record's header and the trace's channels,
// and beside it "<name>.stats.csv", the statistics of the same rows in the channels' units (or in
// volts). Why not, or nothing.
report::Done SaveSlice(const Trace& trace, Trace::Keys keys, double fromS, double toS, const QString& path,
                       bool volts = false);

} // namespace trend
