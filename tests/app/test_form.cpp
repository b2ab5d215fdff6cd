// The main window: its controls as laid out, the tick, the status line, and
// what a start does with the parameter file and the unit.
#include "app/log_pane/log_view.h"
#include "app/manual_window.h"
#include "app/settings_dialog.h"
#include "record/row_stream.h"
#include "record/run_record_file.h"
#include "settings/parameter_file.h"
#include "tests/settings/unprivileged_user.h"
#include "tests/support/form_fixture.h"
#include "trend/trend_sink.h"
#include "trend/trend_window.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <qcustomplot.h>
#include <unistd.h>

using testing::DrivenLoop;
using testing::FormFixture;

namespace {

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The settings dialog as a person answers it: the unit of AD0 made "°C" and reconnect ticked.
class ScriptedSettingsDialog : public SettingsDialogSeam {
public:
    QString shown; // AD0's name and unit as shown, and whether the command line gave some fields
    std::optional<WindowSettings> Execute(QWidget*, const WindowSettings& settings, bool commandLine) override {
        shown = QStringLiteral("%1|%2|%3").arg(settings.channels[0].name, settings.channels[0].unit).arg(commandLine);
        WindowSettings given = settings;
        given.channels[0].unit = QStringLiteral("°C");
        given.reconnect = true;
        return given;
    }
};

// The next widget that Tab can reach.
QWidget* NextTabStop(QWidget* w) {
    do
        w = w->nextInFocusChain();
    while (w->focusPolicy() == Qt::NoFocus || !(w->focusPolicy() & Qt::TabFocus));
    return w;
}

} // namespace

class TestForm : public QObject {
    Q_OBJECT

private slots:
    void controlsAsLaidOut_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("parent");
        QTest::addColumn<QRect>("geometry");   // width -1: sized to its text
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("ticked");       // -1: not a check box
        const auto row = [](const char* name, const char* parent, QRect geometry, const QString& text,
                            bool enabled = true, int ticked = -1) {
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(parent) << geometry << text
                                << enabled << ticked;
        };
        row("label2", "Form1", {6, 4, -1, 0}, "Tavrin βVer1.0");
        row("Label3", "Form1", {5, 29, -1, 0}, QString(36, ' '));
        row("Label14", "Form1", {288, 6, -1, 0}, "Tavrin data logger");
        row("Label23", "Form1", {128, 62, -1, 0}, "DISPLAY VALUE (or INPUT\u3000VOLTAGE)  AND  OUTPUT LEVEL");
        row("Edit1", "Form1", {693, 0, 68, 21}, "");
        row("Image1", "Form1", {168, 94, 609, 403}, "");
        row("GroupBox2", "Form1", {0, 54, 121, 179}, "Data Load");
        row("GroupBox1", "Form1", {0, 238, 121, 113}, "Measure");
        row("GroupBox3", "Form1", {0, 358, 121, 131}, "DataSave");
        row("GroupBox4", "Form1", {8, 520, 289, 89}, "Function");
        row("GroupBox5", "Form1", {304, 520, 473, 89}, "SIO Monitor");
        row("Label13", "Form1", {128, 94, -1, 0}, "6.0V");
        row("Label12", "Form1", {128, 142, -1, 0}, "5.0V");
        row("Label11", "Form1", {128, 198, -1, 0}, "4.0V");
        row("Label10", "Form1", {128, 246, -1, 0}, "3.0V");
        row("Label9", "Form1", {128, 294, -1, 0}, "2.0V");
        row("Label8", "Form1", {128, 342, -1, 0}, "1.0V");
        row("Label28", "Form1", {136, 390, -1, 0}, "0V");
        row("Label29", "Form1", {136, 414, -1, 0}, "HH");
        row("Label30", "Form1", {136, 438, -1, 0}, "HL");
        row("Label31", "Form1", {136, 462, -1, 0}, "LH");
        row("Label32", "Form1", {136, 486, -1, 0}, "LL");
        row("Label4", "Form1", {168, 502, -1, 0}, "0");
        row("Label18", "Form1", {224, 502, -1, 0}, "60");
        row("Label17", "Form1", {280, 502, -1, 0}, "120");
        row("Label16", "Form1", {344, 502, -1, 0}, "180");
        row("Label15", "Form1", {400, 502, -1, 0}, "240");
        row("Label7", "Form1", {464, 502, -1, 0}, "300");
        row("Label19", "Form1", {520, 502, -1, 0}, "360");
        row("Label20", "Form1", {584, 502, -1, 0}, "420");
        row("Label21", "Form1", {640, 502, -1, 0}, "480");
        row("Label22", "Form1", {704, 502, -1, 0}, "540");
        row("Label26", "Form1", {768, 502, -1, 0}, "600");
        row("Label24", "Form1", {736, 510, -1, 0}, "TIME");
        row("Button3", "GroupBox2", {8, 16, 49, 25}, "START");
        row("Button4", "GroupBox2", {64, 16, 49, 25}, "STOP");
        row("Label27", "GroupBox2", {8, 48, -1, 0}, "SamplingTime×0.1s");
        row("Label1", "GroupBox2", {48, 64, -1, 0}, "+10       +1");
        row("Edit2", "GroupBox2", {8, 80, 33, 20}, "10");
        row("Button9", "GroupBox2", {48, 80, 33, 17}, "▲");
        row("Button10", "GroupBox2", {48, 96, 33, 17}, "▼");
        row("Button1", "GroupBox2", {80, 80, 33, 17}, "▲");
        row("Button2", "GroupBox2", {80, 96, 33, 17}, "▼");
        row("CheckBox7", "GroupBox2", {8, 120, 97, 17}, "自動印刷", true, 0);
        row("Button8", "GroupBox2", {8, 144, 105, 25}, "PRINT");
        row("CheckBox2", "GroupBox1", {8, 16, 49, 17}, "AD0", true, 1);
        row("Button5", "GroupBox1", {64, 16, 49, 17}, "Color");
        row("CheckBox3", "GroupBox1", {8, 40, 49, 17}, "AD1", true, 1);
        row("Button6", "GroupBox1", {64, 40, 49, 17}, "Color");
        row("CheckBox4", "GroupBox1", {8, 64, 73, 17}, "Line/Dot", true, 0);
        row("CheckBox5", "GroupBox1", {8, 88, 97, 17}, "連続計測", true, 1);
        row("Label34", "GroupBox3", {8, 16, -1, 0}, "ファイル名");
        row("Edit3", "GroupBox3", {8, 32, 73, 20}, "tavrin");
        row("CheckBox6", "GroupBox3", {8, 56, 105, 17}, "自動セーブ", true, 0);
        row("Button7", "GroupBox3", {8, 88, 105, 25}, "FileDelite");
        row("Button13", "GroupBox4", {16, 24, 75, 25}, "MANUAL", true);
        row("Button14", "GroupBox4", {104, 24, 75, 25}, "トレンド");
        row("Button15", "GroupBox4", {192, 24, 75, 25}, "設定");
        row("Button16", "GroupBox4", {16, 56, 75, 25}, "", false);
        row("Memo1", "GroupBox5", {16, 16, 433, 65}, "");
    }
    void controlsAsLaidOut() {
        QFETCH(QString, name);
        QFETCH(QString, parent);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);
        QFETCH(bool, enabled);
        QFETCH(int, ticked);
        FormFixture fx;
        auto* w = fx.form->findChild<QWidget*>(name);
        QVERIFY2(w, qPrintable(name));
        QCOMPARE(w->parentWidget()->objectName(), parent);
        QCOMPARE(w->pos(), geometry.topLeft());
        if (geometry.width() >= 0)
            QCOMPARE(w->size(), geometry.size());
        else
            QCOMPARE(w->size(), w->sizeHint());
        QCOMPARE(w->isEnabled(), enabled);
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            QCOMPARE(b->text(), text);
        else if (auto* l = qobject_cast<QLabel*>(w))
            QCOMPARE(l->text(), text);
        else if (auto* e = qobject_cast<QLineEdit*>(w))
            QCOMPARE(e->text(), text);
        else if (auto* g = qobject_cast<QGroupBox*>(w))
            QCOMPARE(g->title(), text);
        if (ticked >= 0)
            QCOMPARE(qobject_cast<QCheckBox*>(w)->isChecked(), ticked == 1);
    }

    void windowAsDesigned() {
        FormFixture fx;
        TForm1& f = *fx.form;
        QCOMPARE(f.windowTitle(), QStringLiteral("ombu1"));
        QCOMPARE(f.pos(), QPoint(200, 144));
        QCOMPARE(f.palette().color(QPalette::Window), QColor(192, 192, 192));
        QCOMPARE(f.font().pixelSize(), 12);
        QCOMPARE(f.label2->palette().color(QPalette::WindowText), QColor(255, 0, 255));
        QCOMPARE(f.label2->font().pixelSize(), 16);
        QVERIFY(f.label2->font().bold());
        QCOMPARE(f.Label3->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCOMPARE(f.Label3->palette().color(QPalette::Window), QColor(255, 255, 255));
        QVERIFY(f.Label3->autoFillBackground());
        QCOMPARE(f.Label14->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QVERIFY(f.Edit1->isReadOnly());
        QVERIFY(f.Edit2->isReadOnly());
        QVERIFY(!f.Edit3->isReadOnly());
        QCOMPARE(f.Edit3->maxLength(), 32767);
        QVERIFY(f.Image1->Picture().isNull());   // no picture before the first drawing
        QCOMPARE(f.Memo1->Store().LineCount(), qsizetype(1));
        QCOMPARE(f.Memo1->Store().LineText(0), QString());
        QCOMPARE(f.Timer1->interval(), 100);
        QCOMPARE(f.Timer1->timerType(), Qt::PreciseTimer);
    }

    void tabOrderWithinEachGroup() {
        FormFixture fx;
        TForm1& f = *fx.form;
        const QList<QWidget*> dataLoad = {f.Button3, f.Edit2, f.Button1, f.Button2, f.Button4,
                                          f.Button8, f.Button9, f.Button10, f.CheckBox7};
        for (qsizetype i = 0; i + 1 < dataLoad.size(); ++i)
            QCOMPARE(NextTabStop(dataLoad[i]), dataLoad[i + 1]);
        QCOMPARE(NextTabStop(f.CheckBox2), f.CheckBox3);
        QCOMPARE(NextTabStop(f.CheckBox4), f.Button5);
        QCOMPARE(NextTabStop(f.Button6), f.CheckBox5);
        QCOMPARE(NextTabStop(f.CheckBox6), f.Edit3);
    }

    void tickCountsDownBothCounters_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("expected");
        QTest::newRow("zero stays zero") << 0 << 5 << 0;
        QTest::newRow("ten to zero") << 10 << 10 << 0;
        QTest::newRow("stops at zero") << 3 << 10 << 0;
        QTest::newRow("-1 down one") << -1 << 1 << -2;
        QTest::newRow("-1 to -32768") << -1 << 32767 << -32768;
        QTest::newRow("wraps to 32767") << -1 << 32768 << 32767;
        QTest::newRow("-1 reaches 0 after 65535") << -1 << 65535 << 0;
    }
    void tickCountsDownBothCounters() {
        QFETCH(int, start);
        QFETCH(int, ticks);
        QFETCH(int, expected);
        FormFixture fx;
        fx.form->ReplyTicks = std::int16_t(start);
        fx.form->IntervalTicks = std::int16_t(start);
        for (int i = 0; i < ticks; ++i)
            fx.form->Timer1Timer();
        QCOMPARE(int(fx.form->ReplyTicks), expected);
        QCOMPARE(int(fx.form->IntervalTicks), expected);
    }

    void tickWritesTheTimeOfDayOnly() {
        FormFixture fx;
        fx.form->Edit1->setText("stale");
        fx.form->Timer1Timer();
        const QString text = fx.form->Edit1->text();
        QVERIFY(text.contains("10") && text.contains("20") && text.contains("30"));
        QVERIFY(!text.contains("2026"));
        QVERIFY(!text.contains("UTC"));
    }

    // Each key clicks its button, as the mouse would (nothing while the button is disabled), and is
    // named in the button's tooltip; F1 opens the manual in the window's language.
    void shortcutsClickTheirButtons_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("tooltip");
        QTest::newRow("F5 START") << "Button3" << QKeySequence(Qt::Key_F5) << "START (F5)";
        QTest::newRow("Shift+F5 STOP") << "Button4" << QKeySequence(Qt::SHIFT | Qt::Key_F5) << "STOP (Shift+F5)";
        QTest::newRow("Ctrl+P PRINT") << "Button8" << QKeySequence(Qt::CTRL | Qt::Key_P) << "PRINT (Ctrl+P)";
        QTest::newRow("F1 MANUAL") << "Button13" << QKeySequence(Qt::Key_F1) << "MANUAL (F1)";
    }
    void shortcutsClickTheirButtons() {
        QFETCH(QString, button);
        QFETCH(QKeySequence, keys);
        QFETCH(QString, tooltip);
        FormFixture fx;
        fx.Show();
        fx.form->show();
        QVERIFY(QTest::qWaitForWindowActive(fx.form.get()));
        auto* b = fx.form->findChild<QPushButton*>(button);
        QCOMPARE(b->toolTip(), tooltip);
        // Clicks are counted, not carried out: START and PRINT would run and print.
        int clicks = 0;
        b->disconnect(SIGNAL(clicked(bool)));
        QObject::connect(b, &QPushButton::clicked, [&clicks] { ++clicks; });
        QTest::keySequence(fx.form.get(), keys);
        QCOMPARE(clicks, 1);
        b->setEnabled(false);
        QTest::keySequence(fx.form.get(), keys);
        QCOMPARE(clicks, 1);
    }

    void manualOpensInTheWindowsLanguage() {
        FormFixture fx;
        fx.form->Button13->click();
        auto* manual = fx.form->findChild<QWidget*>("ManualWindow");
        QVERIFY(manual && manual->isVisible());
        QVERIFY(manual->isWindow());
        QCOMPARE(manual->windowTitle(), QStringLiteral("マニュアル"));
        QVERIFY(!static_cast<ManualWindow*>(manual)->Text().isEmpty());
        // A second press raises the same window.
        fx.form->Button13->click();
        QCOMPARE(fx.form->findChildren<ManualWindow*>().size(), 1);
    }

    // A handler's text is painted when it is set, even in the middle of a sample whose own texts wait.
    void aHandlersStatusTextIsShownAtOnceDuringARun() {
        FormFixture fx;
        fx.Show();
        fx.form->Edit3->setText(QString());
        QString shownDuringTheRun;
        fx.pump.afterTick = [&](long tick) {
            if (tick == 3) {
                fx.form->HoldRepaints(); // as in a sample
                fx.form->Button7Click(); // FileDelite with an empty base name
                shownDuringTheRun = fx.form->Label3->text();
                fx.form->Button4Click();
            }
        };
        fx.Run();
        QCOMPARE(shownDuringTheRun, QStringLiteral("ファイル名が空です: 削除しません"));
    }

    // A sampling time of 0 in the parameter file is taken as 1 and said, the file kept as it is; a record
    // that cannot be made at START is said under the run's header, and on the status line in the place
    // of the reading text for the rest of the run; the next run makes its record.
    void zeroSamplingTimeAndAMissingRecordAreSaid() {
        QTemporaryDir records;
        record::RunRecordFile recordFile(records.path());
        FormFixture fx({}, 100, [&](FormSeams& seams) { seams.sampleSinks.push_back(&recordFile); });
        const QByteArray par = QByteArray("1" "008000" "008080" "0000" "111000") + QByteArray(7, '\0');
        QFile file(fx.ParamFile());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(par) == 30);
        file.close();
        fx.Show();
        QCOMPARE(fx.form->Edit2->text(), QStringLiteral("1"));
        QVERIFY(testing::LogLines(*fx.form).contains(
            "The sampling time in the settings file is 0, which would send requests without a pause: 1 (0.1 s), "
            "the fastest the controls allow, is used. The file keeps its 0 until a sampling time button changes it."));
        fx.form->Edit3->setText(QStringLiteral("nodir/x"));
        QString statusMidRun;
        fx.pump.afterTick = [&](long tick) {
            if (tick == 30) {
                statusMidRun = fx.form->Label3->text();
                fx.form->Button4Click();
            }
        };
        fx.Run();
        QCOMPARE(statusMidRun, QStringLiteral("記録を中止しました"));
        const QStringList log = testing::LogLines(*fx.form);
        QVERIFY2(log.size() > 3 && log[1] == "SamplingTime = 1* 0.1S" &&
                     log[3].startsWith("The run record stopped: cannot create " + records.path() +
                                       "/nodir/x-20261207-102030.csv (No such file or directory)"),
                 qPrintable(log.mid(0, 5).join('\n')));
        QCOMPARE(ReadFile(fx.ParamFile()), par);
        // The next run makes its record.
        fx.form->Edit3->setText(QStringLiteral("x"));
        fx.pump.afterTick = {};
        fx.form->Button3Click();
        fx.form->Button4Click();
        fx.pump.RunWhile([&] { return fx.form->RunInProgress(); });
        QCOMPARE(QDir(records.path()).entryList(QDir::Files), QStringList{"x-20261207-102030.csv"});
    }

    // A sink that fails says its own name on the status line, in the place of the reading text for the rest
    // of the run (or of "finished", failing at the end): "Record stopped" is the record's alone.
    void aFailedSinkSaysItsOwnNameOnTheStatusLine_data() {
        QTest::addColumn<QString>("sink");
        QTest::addColumn<QString>("midRun");
        QTest::addColumn<QString>("atTheEnd");
        QTest::addColumn<QString>("logged");
        QTest::newRow("the trend window, full") << "trend"
                                                << "トレンドウィンドウが満杯です"
                                                << "データ取り込み終了"
                                                << "The trend window keeps the first 5 samples of a run";
        QTest::newRow("the record's rows on a stream nobody reads")
            << "stream"
            << "データ読み込み中"
            << "標準出力に届かなかった行があります"
            << "rows of this run did not reach standard output: its reader fell 200 bytes behind.";
        QTest::newRow("the record") << "record"
                                    << "記録を中止しました"
                                    << "データ取り込み終了"
                                    << "The run record stopped: cannot create";
    }
    void aFailedSinkSaysItsOwnNameOnTheStatusLine() {
        QFETCH(QString, sink);
        QFETCH(QString, midRun);
        QFETCH(QString, atTheEnd);
        QFETCH(QString, logged);
        trend::TrendSink trendSink(5);
        // A pipe of one page, full, that nobody reads.
        int ends[2];
        QCOMPARE(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
        const auto closeEnds = qScopeGuard([&ends] {
            ::close(ends[0]);
            ::close(ends[1]);
        });
        ::fcntl(ends[1], F_SETPIPE_SZ, 4096);
        while (::write(ends[1], QByteArray(4096, 'x').constData(), 4096) > 0) {
        }
        record::RowStream stream(ends[1], 200, 0);
        QTemporaryDir records;
        record::RunRecordFile recordFile(records.path());
        acquisition::SampleSink* failing = sink == "trend" ? static_cast<acquisition::SampleSink*>(&trendSink)
                                           : sink == "stream"
                                               ? static_cast<acquisition::SampleSink*>(&stream)
                                               : static_cast<acquisition::SampleSink*>(&recordFile);
        FormFixture fx({}, 100, [&](FormSeams& seams) { seams.sampleSinks.push_back(failing); });
        fx.Show();
        fx.form->Edit3->setText(QStringLiteral("nodir/x"));
        fx.form->CheckBox5->setChecked(false); // one sweep, then the run's end
        QString statusMidRun;
        fx.pump.afterTick = [&](long tick) {
            if (tick == 200) // some 20 samples in
                statusMidRun = fx.form->Label3->text();
        };
        fx.Run();
        QCOMPARE(statusMidRun, midRun);
        QCOMPARE(fx.form->Label3->text(), atTheEnd);
        QVERIFY2(testing::LogLines(*fx.form).join('\n').contains(logged),
                 qPrintable(testing::LogLines(*fx.form).join('\n')));
    }

    void statusLineShowsItsText() {
        FormFixture fx;
        fx.form->ShowStatus(QStringLiteral("データ読み込み中"));
        QCOMPARE(fx.form->Label3->text(), QStringLiteral("データ読み込み中"));
        QCOMPARE(fx.beeps, 0);
    }

    void freeFunctionButtonNeverReacts() {
        FormFixture fx;
        QSignalSpy clicked(fx.form->Button16, &QPushButton::clicked);
        QTest::mouseClick(fx.form->Button16, Qt::LeftButton);
        fx.form->Button16->click();
        QCOMPARE(clicked.count(), 0);
    }

    // TREND opens the trend window (so does Ctrl+T), which takes the channels' colours and boxes.
    void trendButtonOpensTheTrendWindow() {
        FormFixture fx;
        fx.Show();
        fx.form->show();
        QTest::mouseClick(fx.form->Button14, Qt::LeftButton);
        trend::TrendWindow& trend = fx.form->Trend();
        QVERIFY(trend.isVisible());
        trend.close();
        fx.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(fx.form.get()));
        QTest::keyClick(fx.form.get(), Qt::Key_T, Qt::ControlModifier);
        QVERIFY(trend.isVisible());
        fx.form->SamplingTime = 1;
        fx.form->CheckBox5->setChecked(false);
        fx.Run(); // a sweep, to draw
        fx.colorDialog.answer = clRed;
        fx.form->Button5Click();
        fx.form->CheckBox3->setChecked(false);
        QCOMPARE(trend.Plot().graph(0)->pen().color(), ToQColor(clRed));
        QCOMPARE(trend.Plot().graph(1)->name(), QStringLiteral("AD1 (オフ)"));
    }

    // What SETTINGS changes goes into the settings file beside the parameter file, never into the
    // parameter file, and the channels into the next run; what the command line gave is shown and
    // used for this start but written only once changed in the dialog. The user's lines stay, and a
    // file the start could not read is never written. The trend window's span is kept there too.
    void settingsAreKeptBesideTheParameterFile_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("leaveFile");
        QTest::addColumn<QString>("name"); // AD0's name and unit on the command line; empty: none
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("ran"); // AD0's name and unit as the next run takes them
        const QByteArray mine = "# mine\nmykey=caf\xe9\r\ntrend-span=1h\n";
        const QByteArray anew = "# Tavrin's settings beside the parameter file ombu01.par\n"
                                "reconnect=on\nlanguage=\ntrend-span=1min\nad0.unit=\xc2\xb0\x43\n";
        QTest::newRow("none") << QByteArray() << false << "" << "" << "AD0|V|0" << anew << "AD0|°C";
        QTest::newRow("the user's lines kept")
            << mine << false << "" << "" << "AD0|V|0"
            << QByteArray("# mine\nmykey=caf\xe9\r\ntrend-span=1min\nreconnect=on\nad0.unit=\xc2\xb0\x43\n")
            << "AD0|°C";
        QTest::newRow("not read at start: left as it is") << mine << true << "" << "" << "AD0|V|0" << mine << "AD0|°C";
        QTest::newRow("the command line's name used, not written")
            << QByteArray() << false << "Oven" << "" << "Oven|V|1" << anew << "Oven|°C";
        QTest::newRow("the command line's unit changed in the dialog: written")
            << QByteArray() << false << "" << "K" << "AD0|K|1" << anew << "AD0|°C";
    }
    void settingsAreKeptBesideTheParameterFile() {
        QFETCH(QByteArray, file);
        QFETCH(bool, leaveFile);
        QFETCH(QString, name);
        QFETCH(QString, unit);
        QFETCH(QString, shown);
        QFETCH(QByteArray, written);
        QFETCH(QString, ran);
        QTemporaryDir config;
        QFile conf(config.filePath("tavrin.conf"));
        QVERIFY(file.isEmpty() || (conf.open(QIODevice::WriteOnly) && conf.write(file) == file.size()));
        conf.close();
        ScriptedSettingsDialog dialog;
        FormFixture fx({}, 100, [&](FormSeams& seams) {
            seams.settingsFolder = config.path();
            seams.kept.trendSpan = "1h";
            seams.kept.leaveFile = leaveFile;
            seams.settingsDialog = &dialog;
            if (!name.isEmpty())
                seams.runChannels[0].name = name;
            if (!unit.isEmpty())
                seams.runChannels[0].unit = unit;
        });
        fx.Show();
        const QByteArray parameters = ReadFile(fx.ParamFile());
        trend::TrendWindow& trend = fx.form->Trend();
        QCOMPARE(trend.FollowSpan(), 3600);
        QCOMPARE(conf.exists(), !file.isEmpty()); // set by the program: nothing to keep
        QTest::mouseClick(fx.form->Button15, Qt::LeftButton);
        QCOMPARE(dialog.shown, shown);
        trend.SetFollowSpan(60);
        QCOMPARE(ReadFile(conf.fileName()), written);
        QCOMPARE(ReadFile(fx.ParamFile()), parameters);
        const channels::Channel ad0 = fx.form->Settings().channels[0];
        QCOMPARE(ad0.name + "|" + ad0.unit, ran);
    }

    // A field that will not do is said beside it and OK waits, what was typed kept; AD1 is left as it
    // was. The hysteresis shows the default in force while empty.
    void settingsDialogSaysABadFieldBesideIt_data() {
        QTest::addColumn<QStringList>("typed");  // AD0's fields, "field=text"
        QTest::addColumn<QString>("field");      // the field whose problem is said; empty: none
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("hysteresis"); // the hysteresis field's placeholder
        const QString volts = "既定: 0.01";
        const QString label =
            "空にできず、64 文字まで。コンマ、引用符、制御文字 (タブ、改行など) は使えません";
        QTest::newRow("as they were") << QStringList() << "" << "" << volts;
        QTest::newRow("a name with a comma") << QStringList{"Name=a,b"} << "Name" << label << volts;
        QTest::newRow("a unit of spaces") << QStringList{"Unit= "} << "Unit" << label << volts;
        QTest::newRow("volts that are no number") << QStringList{"Volts1=x"} << "Volts1" << "数値を入れてください" << volts;
        QTest::newRow("the same volts twice") << QStringList{"Volts2=0"} << "Volts2" << "点 1 と同じ電圧です" << volts;
        QTest::newRow("the same value twice") << QStringList{"Value2=0"} << "Value2" << "点 1 と同じ値です" << volts;
        QTest::newRow("a limit that is no number")
            << QStringList{"High=abc"} << "High" << "数値を入れるか、空欄にしてください" << volts;
        QTest::newRow("a low limit above the high")
            << QStringList{"High=1", "Low=2"} << "Low" << "上限より上です" << volts;
        QTest::newRow("a hold of a day and a second")
            << QStringList{"Hold=86401"} << "Hold" << "0 から 86400 までの秒数を入れてください" << volts;
        QTest::newRow("a hysteresis below 0")
            << QStringList{"Hysteresis=-1"} << "Hysteresis" << "0 以上の数値を入れるか、空欄 (既定) にしてください"
            << volts;
        QTest::newRow("a unit with a tab") << QStringList{"Unit=a\tb"} << "Unit" << label << volts;
        QTest::newRow("a unit with an escape") << QStringList{"Unit=\x1b[31m"} << "Unit" << label << volts;
        QTest::newRow("a name with U+0085")
            << QStringList{QString::fromUtf16(u"Name=a\u0085b")} << "Name" << label << volts;
        QTest::newRow("a name with U+2029")
            << QStringList{QString::fromUtf16(u"Name=a\u2029b")} << "Name" << label << volts;
        QTest::newRow("a name of 65 characters")
            << QStringList{"Name=" + QString(65, 'n')} << "Name" << label << volts;
        QTest::newRow("a name of 64 characters") << QStringList{"Name=" + QString(64, 'n')} << ""
                                                 << "" << volts;
        QTest::newRow("a scale that gives inf")
            << QStringList{"Value2=1e308"} << "Value2"
            << "0〜9.99 V の値が 1e+15 未満になる 2 点にしてください (小数 0 桁で 15 桁まで)" << volts;
        QTest::newRow("a scale of 16 digits at 9.99 V")
            << QStringList{"Value2=1e15"} << "Value2"
            << "0〜9.99 V の値が 1e+15 未満になる 2 点にしてください (小数 0 桁で 15 桁まで)" << volts;
        QTest::newRow("a high limit of 16 digits in volts")
            << QStringList{"High=1e13"} << "High"
            << "大きさ 1e+13 未満の数値にしてください (小数 2 桁で 15 桁まで)" << volts;
        QTest::newRow("a low limit of 15 digits in volts") << QStringList{"Low=-9999999999999"} << ""
                                                           << ""
                                                           << "既定: 99999999999.99";
        QTest::newRow("a hysteresis of 16 digits in volts")
            << QStringList{"Hysteresis=1e14"} << "Hysteresis"
            << "大きさ 1e+13 未満の数値にしてください (小数 2 桁で 15 桁まで)" << volts;
        QTest::newRow("an oven: 1% of its band")
            << QStringList{"Unit=°C", "Volts2=5", "Value2=500", "Low=100", "High=400"} << "" << "" << "既定: 3";
    }
    void settingsDialogSaysABadFieldBesideIt() {
        QFETCH(QStringList, typed);
        QFETCH(QString, field);
        QFETCH(QString, problem);
        QFETCH(QString, hysteresis);
        const QStringList names = {"Name", "Unit", "Volts1", "Value1", "Volts2",
                                   "Value2", "Low", "High", "Hold", "Hysteresis"};
        SettingsDialog dialog(WindowSettings{}, false);
        for (const QString& t : typed)
            dialog.Edit(0, app::ChannelField(names.indexOf(t.section('=', 0, 0))))->setText(t.section('=', 1));
        for (int f = 0; f < names.size(); ++f)
            QCOMPARE(dialog.Problem(0, app::ChannelField(f)), names[f] == field ? problem : QString());
        QCOMPARE(dialog.Edit(0, app::ChannelField::Hysteresis)->placeholderText(), hysteresis);
        QCOMPARE(dialog.OkButton()->isEnabled(), field.isEmpty());
        dialog.open();
        dialog.accept();
        QCOMPARE(dialog.result() == QDialog::Accepted, field.isEmpty());
        for (const QString& t : typed)
            QCOMPARE(dialog.Edit(0, app::ChannelField(names.indexOf(t.section('=', 0, 0))))->text(), t.section('=', 1));
        QCOMPARE(dialog.Settings().channels[1], channels::DefaultChannel(1));
    }

    // A limit crossed in a run: the status line says it while outside, the log pane gets the line and
    // a beep sounds, for AD0 as the settings file and the command line make it.
    void aCrossingIsSaidInTheWindow_data() {
        QTest::addColumn<QString>("limits");      // in the settings file
        QTest::addColumn<QString>("commandLine"); // over them for this start; empty: none
        QTest::addColumn<int>("tick");            // the status line read, then STOP
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("said"); // the log pane's lines of the limits
        QTest::addColumn<int>("beeps");
        QTest::newRow("high, from the settings file")
            << ":400" << "" << 100 << "Oven が上限を超えています (431 °C)"
            << QStringList{"ad0 (Oven) high: 402 °C, above the high limit of 400 °C",
                           "ad0 (Oven) was outside its limits for 8.4 s in all"}
            << 1;
        QTest::newRow("low, from the command line")
            << ":400" << "100:" << 200 << "Oven が下限を下回っています (80 °C)"
            << QStringList{"ad0 (Oven) low: 98 °C, below the low limit of 100 °C",
                           "ad0 (Oven) was outside its limits for 4.4 s in all"}
            << 1;
    }
    void aCrossingIsSaidInTheWindow() {
        QFETCH(QString, limits);
        QFETCH(QString, commandLine);
        QFETCH(int, tick);
        QFETCH(QString, status);
        QFETCH(QStringList, said);
        QFETCH(int, beeps);
        const DrivenLoop* pump = nullptr; // the run's clock
        FormFixture fx({}, 100, [&](FormSeams& seams) {
            channels::Channel& ad0 = seams.kept.channels[0];
            ad0.name = "Oven";
            ad0.unit = "°C";
            ad0.scale = {0, 0, 5, 500};
            ad0.limits = *channels::ParseLimits(limits);
            if (!commandLine.isEmpty())
                seams.runChannels[0].limits = channels::ParseLimits(commandLine);
            seams.monotonic = [&pump] {
                return std::chrono::duration_cast<std::chrono::milliseconds>(pump->Now());
            };
        });
        pump = &fx.pump;
        fx.Show();
        fx.form->SamplingTime = 1;
        const int before = fx.beeps;
        QString shown;
        int beeped = 0; // before STOP's own beep
        fx.pump.afterTick = [&](long t) {
            if (t == tick) {
                shown = fx.form->Label3->text();
                beeped = fx.beeps - before;
                fx.form->Button4Click();
            }
        };
        fx.Run();
        QCOMPARE(shown, status);
        QCOMPARE(testing::LogLines(*fx.form).filter(QRegularExpression("^ad0 ")), said);
        QCOMPARE(beeped, beeps);
    }

    void plotReplyDrawsEachChannelInItsColour_data() {
        QTest::addColumn<bool>("ad0");
        QTest::addColumn<bool>("ad1");
        QTest::addColumn<bool>("lineMode");
        QTest::addColumn<QStringList>("colours"); // column 31 at rows 90, 160, 235 and 260
        QTest::newRow("dots") << true << true << false
                              << QStringList{"#008000", "#ffffff", "#808000", "#ffffff"};
        QTest::newRow("AD0 dot only")
            << true << false << false << QStringList{"#008000", "#ffffff", "#ffffff", "#ffffff"};
        QTest::newRow("AD1 dot only")
            << false << true << false << QStringList{"#ffffff", "#ffffff", "#808000", "#ffffff"};
        // AD1 is drawn after AD0, over it from the axis up to its own reading.
        QTest::newRow("lines") << true << true << true
                               << QStringList{"#008000", "#008000", "#808000", "#808000"};
    }
    void plotReplyDrawsEachChannelInItsColour() {
        QFETCH(bool, ad0);
        QFETCH(bool, ad1);
        QFETCH(bool, lineMode);
        QFETCH(QStringList, colours);
        FormFixture fx;
        fx.Show(); // a first start: AD0 green, AD1 olive
        TForm1& f = *fx.form;
        f.CheckBox2->setChecked(ad0);
        f.CheckBox3->setChecked(ad1);
        f.CheckBox4->setChecked(lineMode);
        f.ClearChart();
        f.SweepX = 31;
        // AD0 4.20 V (row 90), AD1 1.30 V (row 235), all four digital lines high.
        const QByteArray reply("AD0=420--------130?");
        f.RxBuffer.fill(0);
        std::copy(reply.begin(), reply.end(), f.RxBuffer.begin());
        f.PlotReply();
        QCOMPARE(f.SweepX, std::uint16_t(32));
        QStringList drawn;
        for (int y : {90, 160, 235, 260})
            drawn << QColor(f.Image1->Picture().pixel(31, y)).name();
        QCOMPARE(drawn, colours);
    }

    // --- Start-up: parameter file and connection ---

    void connectionOutcomes_data() {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<bool>("openRefused");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QStringList>("log");
        QTest::addColumn<int>("beeps");
        QTest::addColumn<bool>("opened");
        // With no unit, the log pane ends with what to try.
        QTest::newRow("no unit")
            << false << false << "Read failed ! Can't See FTDI IC"
            << QStringList{"",
                           "To try: 'tavrin --list-units' lists every unit each way can see, and why one may not be "
                           "opened.",
                           "Permission denied? Install the udev rule: 'sudo cmake --install build/default --prefix "
                           "/usr', then 'sudo udevadm control --reload-rules && sudo udevadm trigger' and plug the "
                           "unit in again.",
                           "No unit at hand: 'tavrin --device sim' runs on a simulated unit."}
            << 0 << false;
        QTest::newRow("open refused") << true << true << "USB Serial Number Open failed !"
                                      << QStringList{"SIM00001"} << 1 << false;
        QTest::newRow("opened") << true << false << "USB Serial Number Open Success!" << QStringList{"SIM00001"} << 0
                                << true;
    }
    void connectionOutcomes() {
        QFETCH(bool, listed);
        QFETCH(bool, openRefused);
        QFETCH(QString, status);
        QFETCH(QStringList, log);
        QFETCH(int, beeps);
        QFETCH(bool, opened);
        device::SimulatedUnitOptions unit;
        unit.listed = listed;
        unit.openRefused = openRefused;
        FormFixture fx(unit);
        fx.Show();
        QCOMPARE(fx.form->Label3->text(), status);
        QCOMPARE(testing::LogLines(*fx.form), log);
        QCOMPARE(fx.beeps, beeps);
        QCOMPARE(fx.form->Unit().Handle() != nullptr, opened);
        QCOMPARE(fx.form->Unit().Status() == FT_OK, opened);
        // The two settings calls are always made; on an open unit they take effect.
        QCOMPARE(fx.sim->BaudRate(), opened ? ULONG(38400) : ULONG(0));
    }

    void firstStartCreatesTheDefaultsAndConnects() {
        FormFixture fx;
        fx.Show();
        QCOMPARE(ReadFile(fx.ParamFile()), QByteArray("1008000008080000A110100") + QByteArray(7, '\0'));
        QVERIFY(fx.form->Unit().Handle() != nullptr);
        QCOMPARE(fx.form->Label3->text(), QStringLiteral("USB Serial Number Open Success!"));
    }

    void secondStartRestoresTheSameState() {
        FormFixture first;
        first.Show();
        first.form->Button1Click();     // 11
        first.form->CheckBox4->setChecked(true);
        first.colorDialog.answer = 0x0000FF;
        first.form->Button6Click();
        const QByteArray saved = ReadFile(first.ParamFile());

        FormFixture second;
        QFile::copy(first.ParamFile(), second.ParamFile());
        second.Show();
        TForm1& f = *second.form;
        QCOMPARE(f.SamplingTime, std::uint16_t(11));
        QCOMPARE(f.Edit2->text(), QStringLiteral("11"));
        QCOMPARE(f.Ad0Color, clGreen);
        QCOMPARE(f.Ad1Color, TColor(0x0000FF));
        QVERIFY(f.CheckBox2->isChecked() && f.CheckBox3->isChecked() && f.CheckBox4->isChecked());
        QVERIFY(f.CheckBox5->isChecked() && !f.CheckBox6->isChecked() && !f.CheckBox7->isChecked());
        QCOMPARE(ReadFile(second.ParamFile()), saved);   // nothing changed, so nothing rewritten differently
    }

    void boxChangedByTheLoadWritesTheFile() {
        FormFixture fx;
        QFile file(fx.ParamFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1008000008080000A1010");   // AD0 on, AD1 off, continuous on; the rest missing
        file.close();
        fx.Show();
        QVERIFY(!fx.form->CheckBox3->isChecked());
        // AD1's handler wrote "0" into its byte and saved; the missing bytes were 0xFF.
        const QByteArray saved = ReadFile(fx.ParamFile());
        QCOMPARE(saved.size(), 30);
        QCOMPARE(saved.mid(17, 4), QByteArray("1010"));
        // Auto-save's byte is missing (0xFF): read as unticked, the box did not change, the byte stays.
        QCOMPARE(saved.at(21), '\xFF');
    }

    void parameterFileProblemsShowTheMessageAndStillOpenTheUnit_data() {
        QTest::addColumn<QString>("standing");
        QTest::addColumn<QStringList>("log"); // %1: the parameter folder
        QTest::newRow("folder is a file")
            << "blocker"
            << QStringList{
                   "SIM00001", "Cannot read the settings file ombu01.par in the folder %1: Not a directory",
                   "Cannot save the settings file ombu01.par in the folder %1: Not a directory. The file "
                   "is left as it was."};
        // What cannot be read is never saved over, so only the start says why.
        QTest::newRow("write-only file")
            << "write-only"
            << QStringList{"SIM00001",
                           "Cannot read the settings file ombu01.par in the folder %1: Permission "
                           "denied. It is left as it is, and the default settings are used."};
    }
    void parameterFileProblemsShowTheMessageAndStillOpenTheUnit() {
        QFETCH(QString, standing);
        QFETCH(QStringList, log);
        FormFixture fx;
        QFile::setPermissions(fx.folder.path(), QFile::Permissions(0x7777));
        QString folder = fx.folder.path();
        const QString par = fx.folder.filePath("ombu01.par");
        const QByteArray kept = "1FFFFFF0000000258111111ABCDEF";
        if (standing == "blocker") {
            // A parameter "folder" that is a file: the file can neither be read nor created.
            folder = fx.folder.filePath("blocker");
            QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        } else {
            QFile file(par);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kept) == kept.size());
            file.close();
            QVERIFY(QFile::setPermissions(par, QFile::WriteOwner | QFile::WriteUser));
        }
        FormSeams seams;
        seams.watch = &fx.pump;
        seams.runTimer = false;
        seams.parameterFolder = folder;
        TForm1 form(seams);
        {
            const settings::UnprivilegedUser user;
            if (standing == "write-only" && !user.PermissionsBind())
                QSKIP("cannot run as an ordinary user");
            form.FormShow();
            // A setting changed later is kept in memory; the file is left as it is.
            form.Button9Click();
        }
        QCOMPARE(form.Label3->text(), QStringLiteral("データファイルがありません"));
        QVERIFY(form.Unit().Handle() != nullptr);
        for (QString& line : log)
            line = line.arg(folder);
        QCOMPARE(testing::LogLines(form), log);
        QCOMPARE(form.SamplingTime, std::uint16_t(20));
        if (standing == "write-only")
            QCOMPARE(ReadFile(par), kept);
    }

    void stepButtonsBeepAndSaveEveryPress() {
        FormFixture fx;
        fx.Show();
        const int before = fx.beeps;
        for (int i = 0; i < 70; ++i)
            fx.form->Button9Click();
        QCOMPARE(fx.form->SamplingTime, std::uint16_t(600));
        QCOMPARE(fx.beeps - before, 70);
        QCOMPARE(ReadFile(fx.ParamFile()).mid(13, 4), QByteArray("0258"));
        fx.form->Button10Click();
        fx.form->Button2Click();
        QCOMPARE(fx.form->Edit2->text(), QStringLiteral("589"));
    }

    void colourDialogCancelWritesNothing() {
        FormFixture fx;
        fx.Show();
        const QByteArray before = ReadFile(fx.ParamFile());
        fx.colorDialog.answer.reset();
        fx.form->Button5Click();
        QCOMPARE(fx.colorDialog.calls, 1);
        QCOMPARE(ReadFile(fx.ParamFile()), before);
        QCOMPARE(fx.form->Ad0Color, clGreen);
        fx.colorDialog.answer = 0x0000FF;
        fx.form->Button5Click();
        QCOMPARE(ReadFile(fx.ParamFile()).mid(1, 6), QByteArray("0000FF"));
        QCOMPARE(fx.beeps, 0);
    }
};

QTEST_MAIN(TestForm)
#include "test_form.moc"
