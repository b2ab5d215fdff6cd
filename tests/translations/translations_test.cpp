// The window's language: how it is chosen, that every Japanese text of the
// program has its English translation, that the English texts fit the fixed
// layout, and that saved files do not depend on the language.
#include "acquisition/acquisition_run.h"
#include "app/clock_text.h"
#include "app/fonts.h"
#include "tests/support/form_fixture.h"
#include "translations/ui_language.h"

#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>
#include <algorithm>

using testing::FormFixture;
using translations::Language;

namespace {

const QString kSourceDir = QStringLiteral(TAVRIN_SOURCE_DIR);

// Japanese texts in the sources that are no user-visible text, with the reason.
const QHash<QString, QString> kUntranslated = {
    {QStringLiteral("ＭＳ Ｐゴシック"), QStringLiteral("the window font's family name, never shown")},
    {QStringLiteral("IPA Pゴシック"), QStringLiteral("a substitute font's family name, never shown")},
};

bool IsJapanese(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x3001 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x4DBF) || (u >= 0x4E00 && u <= 0x9FFF) ||
           (u >= 0xFF01 && u <= 0xFFEF);
}

struct Literal {
    QString file;
    int line;
    QString text;
};

// The string literals of one C++ source, comments skipped, adjacent literals joined.
QList<Literal> StringLiterals(const QString& file, const QString& code) {
    QList<Literal> found;
    qsizetype lastEnd = -1;
    int line = 1;
    const qsizetype n = code.size();
    auto at = [&](qsizetype i) { return i < n ? code[i] : QChar(); };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = code[i];
        if (c == u'\n') {
            ++line;
        } else if (c == u'/' && at(i + 1) == u'/') {
            while (i + 1 < n && code[i + 1] != u'\n')
                ++i;
        } else if (c == u'/' && at(i + 1) == u'*') {
            for (i += 2; i < n && !(code[i] == u'*' && at(i + 1) == u'/'); ++i)
                line += code[i] == u'\n' ? 1 : 0;
            ++i;
        } else if (c == u'\'' && !(i > 0 && code[i - 1].isDigit())) {
            for (++i; i < n && code[i] != u'\''; ++i)
                i += code[i] == u'\\' ? 1 : 0;
        } else if (c == u'"') {
            const qsizetype quote = i;
            const int startLine = line;
            QString text;
            if (i > 0 && code[i - 1] == u'R') {
                const qsizetype open = code.indexOf(u'(', i);
                const QString close = u')' + code.mid(i + 1, open - i - 1) + u'"';
                const qsizetype end = open < 0 ? -1 : code.indexOf(close, open);
                if (end < 0)
                    return found;
                text = code.mid(open + 1, end - open - 1);
                line += int(text.count(u'\n'));
                i = end + close.size() - 1;
            } else {
                for (++i; i < n && code[i] != u'"'; ++i) {
                    if (code[i] != u'\\' || i + 1 == n) {
                        text += code[i];
                        continue;
                    }
                    const QChar e = code[++i];
                    if (e == u'n')
                        text += u'\n';
                    else if (e == u't')
                        text += u'\t';
                    else if (e == u'"' || e == u'\\' || e == u'\'')
                        text += e;
                    else
                        text += QString(u'\\') + e;
                }
            }
            qsizetype start = quote;
            while (start > 0 && QStringLiteral("uUL8R").contains(code[start - 1]))
                --start;
            if (lastEnd >= 0 && !found.isEmpty() && code.mid(lastEnd, start - lastEnd).trimmed().isEmpty())
                found.last().text += text;
            else
                found.append({file, startLine, text});
            lastEnd = i + 1;
        }
    }
    return found;
}

// Every string literal with Japanese in it, in the program's own sources (not the tests').
QList<Literal> JapaneseLiterals() {
    QList<Literal> japanese;
    QDirIterator it(kSourceDir, {"*.cpp", "*.h"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(kSourceDir).relativeFilePath(path);
        const QString top = relative.section(u'/', 0, 0);
        if (top == u"tests" || top == u"bench" || top.startsWith(u"build") || top.startsWith(u'.'))
            continue;
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        for (const Literal& l : StringLiterals(relative, QString::fromUtf8(f.readAll())))
            if (std::any_of(l.text.begin(), l.text.end(), IsJapanese))
                japanese.append(l);
    }
    return japanese;
}

struct Message {
    QString context;
    QString translation;
    bool finished;
};

// The checked-in translation: source text -> its messages.
QMultiHash<QString, Message> TsMessages() {
    QMultiHash<QString, Message> messages;
    QFile f(kSourceDir + QStringLiteral("/translations/tavrin_en.ts"));
    if (!f.open(QIODevice::ReadOnly))
        return messages;
    QXmlStreamReader xml(&f);
    QString context, source;
    while (xml.readNextStartElement() || !xml.atEnd()) {
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"source") {
            source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            const bool finished = xml.attributes().value(QStringLiteral("type")).isEmpty();
            messages.insert(source, {context, xml.readElementText(), finished});
        }
    }
    return messages;
}

} // namespace

class TestTranslations : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { translations::InstallTranslators(*qApp, Language::Japanese); }

    void languageChoice_data() {
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<QString>("lang");   // the --lang value; empty: none given
        QTest::addColumn<bool>("english");
        QTest::newRow("no language") << QStringList{} << "" << false;
        QTest::newRow("C locale") << QStringList{"C"} << "" << false;
        QTest::newRow("POSIX locale") << QStringList{"POSIX"} << "" << false;
        QTest::newRow("Japanese") << QStringList{"ja-JP", "ja"} << "" << false;
        QTest::newRow("English") << QStringList{"en-US", "en"} << "" << true;
        QTest::newRow("German") << QStringList{"de-DE"} << "" << true;
        QTest::newRow("German, then Japanese") << QStringList{"de-DE", "ja-JP"} << "" << false;
        QTest::newRow("English before Japanese") << QStringList{"en-GB", "ja-JP"} << "" << true;
        QTest::newRow("C, then English") << QStringList{"C", "en_US"} << "" << true;
        QTest::newRow("--lang en over Japanese") << QStringList{"ja-JP"} << "en" << true;
        QTest::newRow("--lang ja over English") << QStringList{"en-US"} << "ja" << false;
        QTest::newRow("--lang en in the C locale") << QStringList{"C"} << "en" << true;
    }
    void languageChoice() {
        QFETCH(QStringList, uiLanguages);
        QFETCH(QString, lang);
        QFETCH(bool, english);
        const auto choice = lang.isEmpty() ? std::nullopt : translations::ParseLanguage(lang);
        QCOMPARE(translations::ChooseLanguage(uiLanguages, choice) == Language::English, english);
    }

    void onlyJaAndEnAreLanguages() {
        for (const char* bad : {"", "fr", "JA", "english", "ja-JP"})
            QVERIFY2(!translations::ParseLanguage(QString::fromLatin1(bad)), bad);
    }

    // Fails for a Japanese text in the sources without a finished English translation:
    // mark it (tr(), or QT_TRANSLATE_NOOP("Status", ...) for a status text), run the
    // update_translations target and translate it in translations/tavrin_en.ts.
    void everyJapaneseTextHasAnEnglishTranslation() {
        const QList<Literal> literals = JapaneseLiterals();
        QVERIFY2(literals.size() >= 12, "the scan of the sources found too few Japanese texts");
        const auto messages = TsMessages();
        QTranslator english;
        QVERIFY(english.load(translations::kEnglishTranslation));
        QStringList missing;
        bool sawReading = false;
        for (const Literal& l : literals) {
            sawReading |= l.text == u"データ読み込み中";
            if (kUntranslated.contains(l.text))
                continue;
            bool ok = false;
            for (const Message& m : messages.values(l.text))
                ok |= m.finished && !m.translation.isEmpty() &&
                      english.translate(m.context.toUtf8().constData(), l.text.toUtf8().constData()) ==
                          m.translation;
            if (!ok)
                missing << QStringLiteral("%1:%2: \"%3\"").arg(l.file).arg(l.line).arg(l.text);
        }
        QVERIFY(sawReading);
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("no English translation for:\n") +
                                               missing.join(u'\n')));
    }

    void theWindowInEachLanguage_data() {
        QTest::addColumn<bool>("english");
        QTest::addColumn<QString>("autoPrint");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("finished");
        QTest::addColumn<QString>("cancel");   // a button of Qt's own dialogs
        QTest::newRow("Japanese") << false << "自動印刷" << "ファイル名" << "データ取り込み終了" << "キャンセル";
        QTest::newRow("English") << true << "Auto print" << "File name" << "Data capture finished" << "Cancel";
    }
    void theWindowInEachLanguage() {
        QFETCH(bool, english);
        QFETCH(QString, autoPrint);
        QFETCH(QString, fileName);
        QFETCH(QString, finished);
        QFETCH(QString, cancel);
        QVERIFY(!translations::InstallTranslators(*qApp, english ? Language::English : Language::Japanese));
        FormFixture fx;
        TForm1& f = *fx.form;
        QCOMPARE(f.CheckBox7->text(), autoPrint);
        QCOMPARE(f.findChild<QLabel*>("Label34")->text(), fileName);
        f.ShowStatus(acquisition::kStatusFinished);
        QCOMPARE(f.Label3->text(), finished);
        QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);

        // Nothing clipped: each check box holds its text beside the tick mark ...
        for (QCheckBox* box : f.findChildren<QCheckBox*>()) {
            const int needed = box->style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
                               box->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box) +
                               box->fontMetrics().horizontalAdvance(box->text());
            QVERIFY2(needed <= box->width(), qPrintable(box->text()));
        }
        // ... each translated label in a group stays inside the group and off its neighbours ...
        const auto messages = TsMessages();
        QSet<QString> translated;
        for (auto m = messages.cbegin(); m != messages.cend(); ++m)
            translated << m.key() << m->translation;
        for (QGroupBox* group : f.findChildren<QGroupBox*>())
            for (QLabel* label : group->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
                if (!translated.contains(label->text()))
                    continue;
                QVERIFY2(group->rect().adjusted(1, 1, -1, -1).contains(label->geometry()), qPrintable(label->text()));
                for (QWidget* other : group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
                    QVERIFY2(other == label || !other->geometry().intersects(label->geometry()),
                             qPrintable(label->text() + QStringLiteral(" / ") + other->objectName()));
            }
        // ... and every status text ends before the chart's right edge.
        for (auto m = messages.cbegin(); m != messages.cend(); ++m) {
            if (m->context != u"Status")
                continue;
            const QString text = translations::StatusText(m.key());
            f.ShowStatus(text.contains(u"%1") ? text.arg(QStringLiteral("tavrin0.bmp"), QStringLiteral("Permission denied"))
                                              : text);
            QVERIFY2(f.Label3->geometry().right() <= f.Image1->geometry().right(), qPrintable(f.Label3->text()));
        }
    }

    // The clock box (68 pixels, 60 for text) keeps the locale's long time where it fits.
    void clockFitsItsBox_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<int>("textWidth");
        QTest::addColumn<QString>("clock");
        QTest::newRow("C") << QLocale::c() << 60 << "13:04:05";
        QTest::newRow("US English, in the box") << QLocale(QLocale::English, QLocale::UnitedStates) << 60 << "13:04:05";
        QTest::newRow("US English, room enough") << QLocale(QLocale::English, QLocale::UnitedStates) << 200
                                                 << "1:04:05 PM";
        QTest::newRow("Japanese, in the box") << QLocale(QLocale::Japanese, QLocale::Japan) << 60 << "13:04:05";
        QTest::newRow("Japanese, room enough") << QLocale(QLocale::Japanese, QLocale::Japan) << 200
                                               << "13時04分05秒";
    }
    void clockFitsItsBox() {
        QFETCH(QLocale, locale);
        QFETCH(int, textWidth);
        QFETCH(QString, clock);
        InstallFontSubstitutes();
        const QDateTime now(QDate(2024, 5, 1), QTime(13, 4, 5));
        QCOMPARE(ClockText(now, locale, QFontMetrics(WindowFont(13)), textWidth), clock);
    }

    void savedFilesAreTheSameInEitherLanguage() {
        QTemporaryDir dir;
        QMap<QString, QByteArray> saved[2];
        for (const Language language : {Language::Japanese, Language::English}) {
            translations::InstallTranslators(*qApp, language);
            FormFixture fx;
            fx.Show();
            fx.form->Button1Click();   // sampling time 11
            fx.form->CheckBox5->setChecked(false);
            fx.form->CheckBox6->setChecked(true);
            fx.form->Edit3->setText(dir.filePath("sweep"));
            fx.form->Button3Click();
            QCOMPARE(fx.form->LastRunEnd(), TForm1::LastRun::Normal);
            for (const QString& path : {dir.filePath("sweep0.bmp"), dir.filePath("sweep0.txt"), fx.ParamFile()}) {
                QFile f(path);
                QVERIFY2(f.open(QIODevice::ReadOnly), qPrintable(path));
                saved[int(language)].insert(QFileInfo(path).fileName(), f.readAll());
                f.close();
                QVERIFY(f.remove());
            }
        }
        QCOMPARE(saved[1].keys(), saved[0].keys());
        for (const QString& name : saved[0].keys())
            QVERIFY2(saved[1][name] == saved[0][name], qPrintable(name));
        QVERIFY(saved[0]["sweep0.txt"].contains("SamplingTime = 11* 0.1S\r\nFileName = "));
    }
};

QTEST_MAIN(TestTranslations)
#include "translations_test.moc"
