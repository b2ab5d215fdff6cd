// The print dialog behind a small interface, so that tests can answer it.
#pragma once

#include <memory>

class QPrinter;
class QWidget;

namespace printing {

class PrintDialog {
public:
    virtual ~PrintDialog() = default;
    // Shows the dialog for printer; on true the user's choices are in printer.
    virtual bool Exec(QPrinter& printer, QWidget* parent) = 0;
};

// The platform's modal print dialog.
std::unique_ptr<PrintDialog> MakeStandardPrintDialog();

} // namespace printing
