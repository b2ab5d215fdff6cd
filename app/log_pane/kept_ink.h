// Whether the log pane lays its rows from their kept ink (row_pictures.h) instead of drawing them.
//
// The first paint with a font and a size draws the rows and compares them with their ink laid the
// same way: ink is laid from then on only if it gives the very same pixels (a screen that blends
// text with sub-pixel colours or another gamma keeps its rows drawn). Rows that show a selection are
// always drawn; the others keep being laid.
#pragma once

#include "app/log_pane/row_pictures.h"

#include <QList>
#include <QRect>

#include <functional>
#include <optional>

class QPainter;

namespace log_pane {

class KeptInk {
public:
    using Setting = RowPictures::Setting;
    // Each row's ink, nullopt for a row to draw; empty when some row's ink cannot be kept.
    using RowInks = QList<std::optional<RowPictures::Ink>>;

    // The image a painter paints on, where ink can be laid: 32 bits a pixel, one pixel a pixel.
    static const QImage* Device(const QPainter& painter, qreal devicePixelRatio);

    // The ink of the rows showing `texts`, but for those `drawn`.
    RowInks Inks(const QList<QString>& texts, const QList<bool>& drawn, const Setting& setting);
    // Whether rows are laid from ink with this setting: it was checked and gave the drawn pixels.
    bool Lays(const Setting& setting) const { return checked_ && *checked_ == setting && matches_; }
    bool Checked(const Setting& setting) const { return checked_ && *checked_ == setting; }
    bool Matches() const { return matches_; }
    // Compares `area` of `device`, just drawn, with what `lay` paints on an image like it.
    void Check(const Setting& setting, const QImage& device, QRect area,
               const std::function<void(QPainter&)>& lay);
    void Clear() { pictures_.Clear(); }

private:
    RowPictures pictures_;
    std::optional<Setting> checked_;
    bool matches_ = false;
};

} // namespace log_pane
