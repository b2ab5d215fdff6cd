// The ink of the log pane's rows, kept from one paint to the next.
//
// A new line moves the rows on show up one. Shaping a row of text and drawing its glyphs costs far
// more than laying down pixels already drawn, so the pane keeps each row's ink (black text on a
// clear ground, drawn with the pane's font at the pane's resolution) and lays the rows still on
// show over the white pane from it: a new line draws one row of text, not every row. Laid over
// white in the order the rows come, the ink blends as the glyphs themselves would, also where a
// descender reaches into the row below. A row whose ink would reach further than its neighbours'
// rows gets no ink kept: the pane then draws all its rows itself.
#pragma once

#include <QFont>
#include <QImage>
#include <QPoint>
#include <QString>

#include <optional>
#include <vector>

namespace log_pane {

class RowPictures {
public:
    // What every row's ink depends on besides its text.
    struct Setting {
        QFont font;
        int width = 0;     // the pane's width
        int rowHeight = 0; // the band each row owns
        int left = 0;      // where the text starts
        int ascent = 0;    // baseline below the band's top
        int dpiX = 0;      // the pane's logical resolution, which sets the font's pixel size
        int dpiY = 0;
        bool operator==(const Setting&) const = default;
    };
    // A row's ink: an image (null for a row without ink) to lay at `offset` from the row's top left.
    struct Ink {
        QImage image;
        QPoint offset;
    };

    // The ink of a row showing `text`, drawn now if it is not kept already; empty when the row
    // reaches too far. A changed setting forgets every row.
    std::optional<Ink> Picture(const QString& text, const Setting& setting);
    // Forgets the rows not asked for since the last call: those no longer on show.
    void EndPaint();
    void Clear() { pictures_.clear(); }

private:
    struct Entry {
        QString text;
        std::optional<Ink> ink;
        bool used = true;
    };
    std::optional<Ink> Draw(const QString& text) const;

    Setting setting_;
    std::vector<Entry> pictures_;
};

} // namespace log_pane
