#include "printing/chart_printer.h"

#include "printing/print_dialog.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPrinter>
#include <memory>

namespace printing {
namespace {

std::unique_ptr<QPrinter>& PrinterSlot() {
    static std::unique_ptr<QPrinter> printer;
    return printer;
}

report::Failure CannotPrint(const QPrinter& printer) {
    if (printer.outputFormat() == QPrinter::PdfFormat) {
        if (printer.outputFileName().isEmpty()) {
            return report::Fail(QStringLiteral("Cannot print the chart: no printer is available"));
        }
        return report::Fail(
            QStringLiteral("Cannot print the chart: the file %1 cannot be created").arg(printer.outputFileName()));
    }
    return report::Fail(
        QStringLiteral("Cannot print the chart: the printer \"%1\" cannot be used").arg(printer.printerName()));
}

} // namespace

QPrinter& ProcessPrinter() {
    auto& printer = PrinterSlot();
    if (!printer) {
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        // The printer's engine needs the application: let it go with it.
        qAddPostRoutine([] { PrinterSlot().reset(); });
    }
    return *printer;
}

QRect PrintRectangle(QSize picture, float scale) {
    const int right = static_cast<int>(static_cast<float>(picture.width()) * scale);
    const int bottom = static_cast<int>(static_cast<float>(picture.height()) * scale);
    return QRect(0, 0, right, bottom);
}

report::Done PrintPicture(QPrinter& printer, const QImage& picture, float scale) {
    const QRect target = PrintRectangle(picture.size(), scale);
    // A device takes one painter at a time.
    if (printer.paintingActive()) {
        return report::Fail(QStringLiteral("Cannot print the chart: another print job is still in progress"));
    }
    // A PDF has no resolution of its own: print it as a common printer would, so the chart
    // comes out the same size on paper. A real printer keeps its own resolution.
    if (printer.outputFormat() == QPrinter::PdfFormat && printer.resolution() != kPdfResolution) {
        printer.setResolution(kPdfResolution);
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        return CannotPrint(printer);
    }
    if (!picture.isNull()) {
        // Without this hint the PDF engine stores the picture as JPEG and the grid smears.
        painter.setRenderHint(QPainter::LosslessImageRendering);
        painter.drawImage(target, picture);
    }
    if (!painter.end()) {
        return report::Fail(QStringLiteral("Cannot print the chart: the print job could not be finished"));
    }
    return {};
}

report::Done PrintPictureAfterDialog(PrintDialog& dialog, QWidget* parent, QPrinter& printer, const QImage& picture,
                                     float scale) {
    if (!dialog.Exec(printer, parent)) {
        return {};
    }
    return PrintPicture(printer, picture, scale);
}

} // namespace printing
