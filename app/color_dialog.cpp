#include "app/color_dialog.h"

#include <QColorDialog>

std::optional<TColor> StandardColorDialog::Execute(QWidget* parent) {
    QColorDialog dialog(ToQColor(last_), parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    last_ = FromQColor(dialog.selectedColor());
    return last_;
}
