// The faces the program draws with, named once. Each is a list of families from the fonts the set-up
// installs (IPA's gothics for the window, the chart and Japanese text; DejaVu for the Latin text and the
// code of the manual), so that whatever else a machine has installed (Noto,
// Liberation, …) changes nothing the program draws. A face whose first family is missing is said once,
// and the program goes on with the next family of its list, or with what the system offers.
#pragma once

#include <QFont>
#include <QStringList>

namespace faces {

// The window's face at a pixel height: a Japanese proportional gothic, metric-compatible with
// "ＭＳ Ｐゴシック", the face the window is laid out for.
QFont Window(int pixelSize, bool bold = false);

// The chart's face: 10 points, not antialiased, in the same proportional gothic so that the "×" of the
// sampling-time annotation has its proper glyph.
QFont Chart();

// The manual's text: `base` (the size the platform gives) in DejaVu Sans, its Japanese in the fixed-width
// gothic. Only where it is needed: a font of two families costs fontconfig a look for each, which the
// trend window, redrawing its many labels during a run, is spared.
QFont Text(const QFont& base);

// The families behind each face, first choice first: the window's and the chart's, the text's, and the
// code's (in the manual: DejaVu Sans Mono, the Japanese in the fixed-width gothic).
QStringList WindowFamilies();
QStringList TextFamilies();
QStringList CodeFamilies();

} // namespace faces
