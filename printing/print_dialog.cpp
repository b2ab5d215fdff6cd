#include "printing/print_dialog.h"

#include <QPrintDialog>

namespace printing {
namespace {

class StandardPrintDialog final : public PrintDialog {
public:
    bool Exec(QPrinter& printer, QWidget* parent) override {
        QPrintDialog dialog(&printer, parent);
        return dialog.exec() == QDialog::Accepted;
    }
};

} // namespace

std::unique_ptr<PrintDialog> MakeStandardPrintDialog() {
    return std::make_unique<StandardPrintDialog>();
}

} // namespace printing
