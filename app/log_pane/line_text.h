// A stored line's decoded text as the log pane treats it: where the caret may stand, where words
// begin and end, and how the text shows.
#pragma once

#include <QString>
#include <QStringView>

#include <utility>

namespace log_pane {

// Control characters would draw as nothing: they show as their control pictures (U+2400..) and a
// TAB as a space, one character for one, so columns stay the same.
QString ShownText(QStringView text);

// Caret positions never split a CR LF pair or a surrogate pair.
qsizetype NextColumn(QStringView text, qsizetype column);
qsizetype PrevColumn(QStringView text, qsizetype column);
qsizetype SnapColumn(QStringView text, qsizetype column); // inside the text, on a caret position

// The word around the character at `column` (its start and end), or an empty span on an empty text.
std::pair<qsizetype, qsizetype> WordAt(QStringView text, qsizetype column);
// Where Ctrl+Right and Ctrl+Left go: the start of the next word, the start of this or the last one.
qsizetype NextWordColumn(QStringView text, qsizetype column);
qsizetype PrevWordColumn(QStringView text, qsizetype column);

// Line breaks as one "\n" each, for the clipboard: CR LF and a lone CR alike.
QString WithNewlines(QString text);

} // namespace log_pane
