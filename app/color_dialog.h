// The colour dialog shared by the two Color buttons. It is not preset with the
// trace's colour: it opens on the colour it last returned, black the first time.
#pragma once

#include "chart/tcolor.h"

#include <optional>

class QWidget;

class ColorDialogSeam {
public:
    virtual ~ColorDialogSeam() = default;
    // The chosen colour, or nothing when the user cancelled.
    virtual std::optional<TColor> Execute(QWidget* parent) = 0;
};

class StandardColorDialog : public ColorDialogSeam {
public:
    std::optional<TColor> Execute(QWidget* parent) override;

private:
    TColor last_ = clBlack;
};
