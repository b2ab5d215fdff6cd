#include "app/log_pane/line_text.h"

#include <QTextBoundaryFinder>

#include <algorithm>

namespace log_pane {
namespace {

bool PairAt(QStringView text, qsizetype at) {
    return at >= 0 && at + 1 < text.size() &&
           ((text[at] == u'\r' && text[at + 1] == u'\n') ||
            (text[at].isHighSurrogate() && text[at + 1].isLowSurrogate()));
}

bool IsSpace(QStringView text, qsizetype at) {
    return at >= 0 && at < text.size() && text[at].isSpace();
}

} // namespace

QString ShownText(QStringView text) {
    QString shown = text.toString();
    for (QChar& c : shown) {
        const char16_t u = c.unicode();
        if (u == u'\t')
            c = u' ';
        else if (u < 0x20)
            c = QChar(char16_t(0x2400 + u));
        else if (u == 0x7F)
            c = QChar(char16_t(0x2421));
    }
    return shown;
}

qsizetype NextColumn(QStringView text, qsizetype column) {
    if (column >= text.size())
        return text.size();
    return column + (PairAt(text, column) ? 2 : 1);
}

qsizetype PrevColumn(QStringView text, qsizetype column) {
    if (column <= 0)
        return 0;
    return column - (PairAt(text, column - 2) ? 2 : 1);
}

qsizetype SnapColumn(QStringView text, qsizetype column) {
    column = std::clamp<qsizetype>(column, 0, text.size());
    return PairAt(text, column - 1) ? column - 1 : column;
}

std::pair<qsizetype, qsizetype> WordAt(QStringView text, qsizetype column) {
    if (text.isEmpty())
        return {0, 0};
    column = SnapColumn(text, std::min(column, PrevColumn(text, text.size())));
    QTextBoundaryFinder finder(QTextBoundaryFinder::Word, text);
    finder.setPosition(column);
    const qsizetype end = finder.toNextBoundary();
    finder.setPosition(column);
    const qsizetype start = finder.isAtBoundary() ? column : finder.toPreviousBoundary();
    return {std::max<qsizetype>(start, 0), end < 0 ? text.size() : end};
}

qsizetype NextWordColumn(QStringView text, qsizetype column) {
    if (column >= text.size())
        return text.size();
    qsizetype next = WordAt(text, column).second;
    while (IsSpace(text, next))
        ++next;
    return next;
}

qsizetype PrevWordColumn(QStringView text, qsizetype column) {
    while (IsSpace(text, column - 1))
        --column;
    return column <= 0 ? 0 : WordAt(text, PrevColumn(text, column)).first;
}

QString WithNewlines(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(u'\r', u'\n');
    return text;
}

} // namespace log_pane
