#include "alarm/command_words.h"

namespace alarms {

namespace {

bool Blank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

} // namespace

report::Result<QStringList> SplitCommandWords(const QString& command) {
    QStringList words;
    QString word;
    bool inWord = false; // a word has begun, even an empty one ('')
    const qsizetype n = command.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = command[i];
        if (Blank(c)) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else if (c == u'\\') {
            if (i + 1 == n) { // a last lone backslash stands for itself
                word += c;
                inWord = true;
            } else if (command[i + 1] == u'\n') {
                ++i; // the line goes on: both go
            } else {
                word += command[++i];
                inWord = true;
            }
        } else if (c == u'\'') {
            const qsizetype close = command.indexOf(u'\'', i + 1);
            if (close < 0)
                return report::Fail(
                    QStringLiteral("its single quote at character %1 is never closed").arg(i + 1));
            word += command.mid(i + 1, close - i - 1);
            i = close;
            inWord = true;
        } else if (c == u'"') {
            const qsizetype open = i;
            for (++i; i < n && command[i] != u'"'; ++i) {
                if (command[i] == u'\\' && i + 1 < n) {
                    const QChar next = command[i + 1];
                    if (next == u'\n') {
                        ++i;
                        continue;
                    }
                    if (next == u'$' || next == u'`' || next == u'"' || next == u'\\') {
                        word += next;
                        ++i;
                        continue;
                    }
                }
                word += command[i];
            }
            if (i == n)
                return report::Fail(
                    QStringLiteral("its double quote at character %1 is never closed").arg(open + 1));
            inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

} // namespace alarms
