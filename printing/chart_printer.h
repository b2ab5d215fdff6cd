// Printing the chart picture: one page, the picture enlarged by a fixed scale
// from the top-left corner of the printable area, in printer device pixels.
#pragma once

#include "report/failure.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

class QPrinter;
class QWidget;

namespace printing {

class PrintDialog;

inline constexpr float kPrintScale = 7.5f;
// Dots per inch of a PDF file: the chart comes out about 7.6 by 5.0 inches.
inline constexpr int kPdfResolution = 600;

// The one printer of the process. It starts as the system's default printer at
// its full resolution; whatever the print dialog chooses stays for later jobs.
QPrinter& ProcessPrinter();

// The area the picture is stretched into, in device pixels: the far edges
// x() + width() and y() + height() are picture width and height times scale,
// each truncated toward zero. So the picture ends at those device pixels
// (exclusive), and right() and bottom() are, as for any QRect, one less.
// 609 x 403 at 7.5 gives width 4567 and height 3022.
QRect PrintRectangle(QSize picture, float scale);

// Prints one page; a null picture prints a blank page. A PDF printer is set to
// kPdfResolution first. The GUI thread is taken only while the page is drawn.
// Fails with a message when the printer cannot be used.
report::Done PrintPicture(QPrinter& printer, const QImage& picture, float scale);

// Shows the dialog first; cancelling prints nothing and reports nothing.
report::Done PrintPictureAfterDialog(PrintDialog& dialog, QWidget* parent, QPrinter& printer, const QImage& picture,
                                     float scale);

} // namespace printing
