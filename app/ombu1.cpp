#include "app/ombu1.h"

#include "app/chart_view.h"
#include "app/clock_text.h"
#include "app/color_dialog.h"
#include "faces/faces.h"
#include "app/log_pane/log_view.h"
#include "app/manual_window.h"
#include "app/message_beep.h"
#include "app/opaque_controls.h"
#include "app/repaint_batch.h"
#include "app/settings_dialog.h"
#include "printing/chart_printer.h"
#include "printing/print_dialog.h"
#include "output/sweep_file_deletion.h"
#include "settings/parameter_file.h"
#include "report/reporter.h"
#include "translations/ui_language.h"
#include "trend/trend_sink.h"
#include "trend/trend_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>
#include <QThread>
#include <QTimer>

TForm1* Form1 = nullptr;

namespace {

const QString kStatusNoParameterFile =
    QStringLiteral(QT_TRANSLATE_NOOP("Status", "データファイルがありません"));

template <class W> W* Place(W* widget, const char* name, int left, int top, int width = -1, int height = -1) {
    widget->setObjectName(QString::fromLatin1(name));
    if (width < 0)
        widget->adjustSize();
    else
        widget->resize(width, height);
    widget->move(left, top);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int left, int top) {
    return Place(new QLabel(text, parent), name, left, top);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
                        int height) {
    return Place(new QPushButton(text, parent), name, left, top, width, height);
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
                        int height, bool ticked) {
    auto* box = Place(new QCheckBox(text, parent), name, left, top, width, height);
    box->setChecked(ticked);
    return box;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text, int left, int top, int width,
                    int height, bool readOnly) {
    auto* edit = Place(new QLineEdit(text, parent), name, left, top, width, height);
    edit->setReadOnly(readOnly);
    return edit;
}

void SetColours(QWidget* widget, const QColor& text, const QColor* background = nullptr) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    if (background) {
        palette.setColor(QPalette::Window, *background);
        widget->setAutoFillBackground(true);
    }
    widget->setPalette(palette);
}

void ChainTabOrder(std::initializer_list<QWidget*> widgets) {
    QWidget* previous = nullptr;
    for (QWidget* w : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

} // namespace

// The form as the session sees it: its status line, beep, log pane, chart and boxes.
class FormView : public acquisition::SessionView, public acquisition::RunLog, public acquisition::RunChart {
public:
    explicit FormView(TForm1& form) : f_(form) {}

    acquisition::RunSettings Settings() const override { return f_.Settings(); }
    void ShowStatus(const QString& text) override { f_.ShowRunStatus(text); }
    void Beep() override { MessageBeep(0); }
    QImage* Chart() override { return &f_.Image1->Picture(); }
    void ChartChanged(const QRegion& changed) override { f_.Image1->Changed(changed); }
    report::Done PrintChart() override { return f_.PrintChartNow(); }
    void RunStateChanged(bool running) override {
        f_.Button3->setEnabled(!running);
        f_.PaceTick();
    }
    // A sample's repaints are held while its reply is awaited and go out, all together, once the run
    // waits for anything else: one paint pass a sample.
    void PhaseChanged(acquisition::RunPhase phase) override {
        if (phase == acquisition::RunPhase::AwaitingReply)
            f_.HoldRepaints();
        else
            f_.ReleaseRepaints();
    }

    void Clear() override { f_.Memo1->Clear(); }
    void SetSingleLine(const QByteArray& bytes) override { f_.Memo1->SetSingleLine(bytes); }
    void AppendReply(const QByteArray& reply) override { f_.Memo1->AppendReply(reply); }
    void AppendText(const QString& line) override { f_.Memo1->AppendText(line); }
    QByteArray FileBytes() const override { return f_.Memo1->Store().FileBytes(); }

private:
    TForm1& f_;
};

namespace {

acquisition::SessionSeams SessionSeamsOf(const FormSeams& seams, trend::TrendSink* trend) {
    acquisition::SessionSeams s;
    s.now = seams.now;
    s.monotonic = seams.monotonic;
    s.sinks = seams.sampleSinks;
    s.sinks.push_back(trend);
    s.framelessReplyLimit = seams.framelessReplyLimit;
    s.unattended = seams.unattended;
    s.reconnect = seams.reconnect;
    s.tickMs = seams.tickMs;
    return s;
}

} // namespace

TForm1::TForm1(FormSeams seams, QWidget* parent)
    : QWidget(parent), seams_(std::move(seams)), view_(std::make_unique<FormView>(*this)),
      trendSink_(std::make_unique<trend::TrendSink>()),
      session_(*view_, *view_, *view_, unit_, *watch_, SessionSeamsOf(seams_, trendSink_.get())) {
    connect(&session_, &acquisition::Session::Ended, this, &TForm1::RunFinished);
    if (seams_.colorDialog) {
        colorDialog_ = seams_.colorDialog;
    } else {
        ownColorDialog_ = std::make_unique<StandardColorDialog>();
        colorDialog_ = ownColorDialog_.get();
    }
    if (seams_.settingsDialog) {
        settingsDialog_ = seams_.settingsDialog;
    } else {
        ownSettingsDialog_ = std::make_unique<StandardSettingsDialog>();
        settingsDialog_ = ownSettingsDialog_.get();
    }
    FollowChannels();
    if (seams_.printDialog) {
        printDialog_ = seams_.printDialog;
    } else {
        ownPrintDialog_ = printing::MakeStandardPrintDialog();
        printDialog_ = ownPrintDialog_.get();
    }
    if (seams_.parameterFolder.isEmpty())
        seams_.parameterFolder = QDir::currentPath();

    BuildControls();
    BindHandlers();
    BindShortcuts();
    repaints_ = new RepaintBatch(this);
    // Problems the program survives go into the log pane (and, unattended, to standard error too).
    previousReportOutput_ = report::SetReportOutput(
        [this](const char* module, const QString& text) { ReportProblem(module, text); });

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(seams_.tickMs);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    if (seams_.runTimer)
        Timer1->start();
}

TForm1::~TForm1() {
    report::SetReportOutput(std::move(previousReportOutput_));
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::BuildControls() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("ombu1"));
    setFont(faces::Window(12));
    const QColor silver = ToQColor(clSilver);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, silver);
    setPalette(palette);
    setAutoFillBackground(true);
    move(200, 144);
    resize(879, 662);

    label2 = MakeLabel(this, "label2", QStringLiteral("Tavrin βVer1.0"), 6, 4);
    label2->setFont(faces::Window(16, true));
    SetColours(label2, ToQColor(clFuchsia));
    label2->adjustSize();

    const QColor white = ToQColor(clWhite);
    Label3 = MakeLabel(this, "Label3", QString(36, QLatin1Char(' ')), 5, 29);
    Label3->setFont(faces::Window(12));
    SetColours(Label3, ToQColor(clRed), &white);
    Label3->adjustSize();

    Label14 = MakeLabel(this, "Label14", QStringLiteral("Tavrin data logger"), 288, 6);
    Label14->setFont(faces::Window(13, true));
    SetColours(Label14, ToQColor(clBlue));
    Label14->adjustSize();

    Label23 = MakeLabel(this, "Label23",
                        QStringLiteral("DISPLAY VALUE (or INPUT\u3000VOLTAGE)  AND  OUTPUT LEVEL"), 128, 62);

    Edit1 = MakeEdit(this, "Edit1", QString(), 693, 0, 68, 21, true);
    Edit1->setFont(faces::Window(13));
    SetColours(Edit1, ToQColor(clBlack));

    Image1 = Place(new ChartView(this), "Image1", 168, 94, 609, 403);

    GroupBox2 = Place(new QGroupBox(QStringLiteral("Data Load"), this), "GroupBox2", 0, 54, 121, 179);
    GroupBox1 = Place(new QGroupBox(QStringLiteral("Measure"), this), "GroupBox1", 0, 238, 121, 113);
    GroupBox3 = Place(new QGroupBox(QStringLiteral("DataSave"), this), "GroupBox3", 0, 358, 121, 131);
    GroupBox4 = Place(new QGroupBox(QStringLiteral("Function"), this), "GroupBox4", 8, 520, 289, 89);
    GroupBox5 = Place(new QGroupBox(QStringLiteral("SIO Monitor"), this), "GroupBox5", 304, 520, 473, 89);

    struct Scale {
        const char* name;
        const char* text;
        int left, top;
    };
    static constexpr Scale kScaleLabels[] = {
        {"Label13", "6.0V", 128, 94},  {"Label12", "5.0V", 128, 142}, {"Label11", "4.0V", 128, 198},
        {"Label10", "3.0V", 128, 246}, {"Label9", "2.0V", 128, 294},  {"Label8", "1.0V", 128, 342},
        {"Label28", "0V", 136, 390},   {"Label29", "HH", 136, 414},   {"Label30", "HL", 136, 438},
        {"Label31", "LH", 136, 462},   {"Label32", "LL", 136, 486},   {"Label4", "0", 168, 502},
        {"Label18", "60", 224, 502},   {"Label17", "120", 280, 502},  {"Label16", "180", 344, 502},
        {"Label15", "240", 400, 502},  {"Label7", "300", 464, 502},   {"Label19", "360", 520, 502},
        {"Label20", "420", 584, 502},  {"Label21", "480", 640, 502},  {"Label22", "540", 704, 502},
        {"Label26", "600", 768, 502},  {"Label24", "TIME", 736, 510},
    };
    for (const Scale& s : kScaleLabels)
        MakeLabel(this, s.name, QString::fromLatin1(s.text), s.left, s.top);

    // "Data Load"
    Button3 = MakeButton(GroupBox2, "Button3", QStringLiteral("START"), 8, 16, 49, 25);
    Button4 = MakeButton(GroupBox2, "Button4", QStringLiteral("STOP"), 64, 16, 49, 25);
    MakeLabel(GroupBox2, "Label27", QStringLiteral("SamplingTime×0.1s"), 8, 48);
    MakeLabel(GroupBox2, "Label1", QStringLiteral("+10       +1"), 48, 64);
    Edit2 = MakeEdit(GroupBox2, "Edit2", QStringLiteral("10"), 8, 80, 33, 20, true);
    Button9 = MakeButton(GroupBox2, "Button9", QStringLiteral("▲"), 48, 80, 33, 17);
    Button10 = MakeButton(GroupBox2, "Button10", QStringLiteral("▼"), 48, 96, 33, 17);
    Button1 = MakeButton(GroupBox2, "Button1", QStringLiteral("▲"), 80, 80, 33, 17);
    Button2 = MakeButton(GroupBox2, "Button2", QStringLiteral("▼"), 80, 96, 33, 17);
    CheckBox7 = MakeCheckBox(GroupBox2, "CheckBox7", tr("自動印刷"), 8, 120, 97, 17, false);
    Button8 = MakeButton(GroupBox2, "Button8", QStringLiteral("PRINT"), 8, 144, 105, 25);
    ChainTabOrder({Button3, Edit2, Button1, Button2, Button4, Button8, Button9, Button10, CheckBox7});

    // "Measure"
    CheckBox2 = MakeCheckBox(GroupBox1, "CheckBox2", QStringLiteral("AD0"), 8, 16, 49, 17, true);
    Button5 = MakeButton(GroupBox1, "Button5", QStringLiteral("Color"), 64, 16, 49, 17);
    CheckBox3 = MakeCheckBox(GroupBox1, "CheckBox3", QStringLiteral("AD1"), 8, 40, 49, 17, true);
    Button6 = MakeButton(GroupBox1, "Button6", QStringLiteral("Color"), 64, 40, 49, 17);
    CheckBox4 = MakeCheckBox(GroupBox1, "CheckBox4", QStringLiteral("Line/Dot"), 8, 64, 73, 17, false);
    CheckBox5 = MakeCheckBox(GroupBox1, "CheckBox5", tr("連続計測"), 8, 88, 97, 17, true);
    ChainTabOrder({CheckBox2, CheckBox3, CheckBox4, Button5, Button6, CheckBox5});

    // "DataSave"
    MakeLabel(GroupBox3, "Label34", tr("ファイル名"), 8, 16);
    Edit3 = MakeEdit(GroupBox3, "Edit3", QStringLiteral("tavrin"), 8, 32, 73, 20, false);
    CheckBox6 = MakeCheckBox(GroupBox3, "CheckBox6", tr("自動セーブ"), 8, 56, 105, 17, false);
    Button7 = MakeButton(GroupBox3, "Button7", QStringLiteral("FileDelite"), 8, 88, 105, 25);
    ChainTabOrder({CheckBox6, Edit3, Button7});

    // "Function": MANUAL opens the user guide, TREND the trend window, SETTINGS the settings dialog;
    // the fourth is kept free for a further function.
    Button13 = MakeButton(GroupBox4, "Button13", QStringLiteral("MANUAL"), 16, 24, 75, 25);
    Button14 = MakeButton(GroupBox4, "Button14", tr("トレンド"), 104, 24, 75, 25);
    Button15 = MakeButton(GroupBox4, "Button15", tr("設定"), 192, 24, 75, 25);
    Button16 = MakeButton(GroupBox4, "Button16", QString(), 16, 56, 75, 25);
    Button16->setEnabled(false);
    ChainTabOrder({Button13, Button14, Button15, Button16});

    // "SIO Monitor"
    Memo1 = Place(new log_pane::LogView(GroupBox5), "Memo1", 16, 16, 433, 65);

    ChainTabOrder({Edit1, GroupBox2, GroupBox1, GroupBox3, GroupBox4, GroupBox5});
    MakeControlsOpaque(this);
}

void TForm1::BindShortcuts() {
    // Keys that leave the form's look as it is; each is named in its control's tooltip.
    const struct {
        QPushButton* button;
        QKeySequence keys;
    } shortcuts[] = {
        {Button3, QKeySequence(Qt::Key_F5)},
        {Button4, QKeySequence(Qt::SHIFT | Qt::Key_F5)},
        {Button8, QKeySequence(Qt::CTRL | Qt::Key_P)},
        {Button13, QKeySequence(Qt::Key_F1)},
        {Button14, QKeySequence(Qt::CTRL | Qt::Key_T)},
    };
    for (const auto& s : shortcuts) {
        auto* shortcut = new QShortcut(s.keys, this);
        // A click, as the mouse gives it: nothing while the button is disabled (START during a run).
        connect(shortcut, &QShortcut::activated, s.button, &QPushButton::click);
        s.button->setToolTip(QStringLiteral("%1 (%2)").arg(s.button->text(), s.keys.toString(QKeySequence::NativeText)));
    }
}

void TForm1::OpenManual() {
    if (!manual_)
        manual_ = new ManualWindow(this);
    manual_->show();
    manual_->raise();
    manual_->activateWindow();
}

void TForm1::BindHandlers() {
    connect(Button13, &QPushButton::clicked, this, &TForm1::OpenManual);
    connect(Button14, &QPushButton::clicked, this, &TForm1::Button14Click);
    connect(Button15, &QPushButton::clicked, this, &TForm1::Button15Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(Button5, &QPushButton::clicked, this, &TForm1::Button5Click);
    connect(Button6, &QPushButton::clicked, this, &TForm1::Button6Click);
    connect(Button7, &QPushButton::clicked, this, &TForm1::Button7Click);
    connect(Button8, &QPushButton::clicked, this, &TForm1::Button8Click);
    connect(Button9, &QPushButton::clicked, this, &TForm1::Button9Click);
    connect(Button10, &QPushButton::clicked, this, &TForm1::Button10Click);
    // A box's handler runs whenever its ticked state changes, by a click or by the load.
    connect(CheckBox2, &QCheckBox::toggled, this, &TForm1::CheckBox2Click);
    connect(CheckBox3, &QCheckBox::toggled, this, &TForm1::CheckBox3Click);
    connect(CheckBox4, &QCheckBox::toggled, this, &TForm1::CheckBox4Click);
    connect(CheckBox5, &QCheckBox::toggled, this, &TForm1::CheckBox5Click);
    connect(CheckBox6, &QCheckBox::toggled, this, &TForm1::CheckBox6Click);
    connect(CheckBox7, &QCheckBox::toggled, this, &TForm1::CheckBox7Click);
}

acquisition::RunSettings TForm1::Settings() const {
    acquisition::RunSettings s;
    s.ad0On = CheckBox2->isChecked();
    s.ad1On = CheckBox3->isChecked();
    s.lineMode = CheckBox4->isChecked();
    s.continuous = CheckBox5->isChecked();
    s.autoSave = CheckBox6->isChecked();
    s.autoPrint = CheckBox7->isChecked();
    s.ad0Color = Ad0Color;
    s.ad1Color = Ad1Color;
    s.samplingText = Edit2->text();
    s.baseName = Edit3->text();
    s.channels = channels_;
    return s;
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    // The outer size is 879 x 662 including the frame, once the frame is known.
    QTimer::singleShot(0, this, [this] {
        const QSize extra = frameGeometry().size() - geometry().size();
        if (!extra.isEmpty())
            resize(QSize(879, 662) - extra);
        FormShow();
        emit Shown();
    });
}

void TForm1::closeEvent(QCloseEvent* event) {
    // A close during a run only marks the program as ending: the window stays and the run goes on
    // until STOP, a time-out or a sweep end without continuous measurement; then the window closes.
    if (session_.Running()) {
        closePending_ = true;
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit Closed();
}

void TForm1::FormShow() {
    SamplingTime = 10;
    GridDrawn = 0;
    Ad0Color = clGreen;
    Ad1Color = clOlive;
    FileIndex = 0;
    // The unit is opened whatever became of the settings file; its problem (or that of a save
    // the load made) is told afterwards, so that the connection's messages do not hide it.
    LoadParameters();
    ConnectDevice();
    if (!parameterProblem_.isEmpty()) {
        ShowStatus(kStatusNoParameterFile);
        ReportProblem(report::module::kSettings, parameterProblem_);
    }
    if (!parameterNotice_.isEmpty())
        ReportProblem(report::module::kSettings, parameterNotice_);
}

void TForm1::Timer1Timer() {
    // What a sample still holds is painted now at the latest.
    ReleaseRepaints();
    session_.Tick();
    // The clock box shows whole seconds: its text is worked out once a second and set (and repainted)
    // only when it differs.
    const qint64 second = seams_.now ? seams_.now().toSecsSinceEpoch() : QDateTime::currentSecsSinceEpoch();
    if (second != clockSecond_) {
        clockSecond_ = second;
        // The box shows its text inside its frame and a 2-pixel margin each side.
        const int textWidth = Edit1->width() - 2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
        const QString clock = ClockText(Now(), QLocale(), Edit1->fontMetrics(), textWidth);
        if (clock != Edit1->text())
            Edit1->setText(clock);
    }
    PaceTick();
}

void TForm1::HoldRepaints() {
    repaints_->Hold();
}

void TForm1::ReleaseRepaints() {
    repaints_->Release();
    if (pendingStatus_) {
        SetStatusText(*pendingStatus_);
        pendingStatus_.reset();
    }
}

void TForm1::PaceTick() {
    if (!seams_.runTimer)
        return;
    // With no run and both countdowns at zero a tick changes nothing but the clock box, so the timer
    // then waits for the clock's next second instead of waking ten times a second for nothing. A run
    // or a countdown brings the tick back to its own length at once.
    const bool counting = session_.Running() || ReplyTicks != 0 || IntervalTicks != 0;
    if (counting) {
        if (tickSlowed_) {
            tickSlowed_ = false;
            Timer1->start(seams_.tickMs);
        }
        return;
    }
    if (seams_.tickMs >= 1000)
        return;
    tickSlowed_ = true;
    const qint64 msIntoSecond = QDateTime::currentMSecsSinceEpoch() % 1000;
    Timer1->start(int(1000 - msIntoSecond) + 1);
}

void TForm1::ShowStatus(const QString& source) {
    // A handler's text (FileDelite's, a settings file that cannot be written, a publisher's notice) is
    // painted when it is set, also in the middle of a sample, and stands until the run's next text.
    pendingStatus_.reset();
    SetStatusText(translations::StatusText(source));
    if (repaints_->Holding())
        ReleaseRepaints();
}

void TForm1::ShowRunStatus(const QString& source) {
    const QString text = translations::StatusText(source);
    // Within a sample nothing is painted, and the run shows the blank line and "データ読み込み中" in
    // turn: only the text that stands when the sample's repaints go out is set, so sample after sample
    // the label is left alone.
    if (repaints_->Holding()) {
        pendingStatus_ = text;
        return;
    }
    SetStatusText(text);
}

void TForm1::SetStatusText(const QString& text) {
    if (text == Label3->text())
        return;
    Label3->setText(text);
    // The label sizes itself to its text; the run shows the same few texts over and over.
    auto size = statusSizes_.constFind(text);
    if (size == statusSizes_.cend()) {
        if (statusSizes_.size() > 32)
            statusSizes_.clear();
        size = statusSizes_.insert(text, Label3->sizeHint());
    }
    Label3->resize(*size);
}

void TForm1::ReportProblem(const char* module, const QString& message) {
    if (seams_.errorsToStandardError)
        report::WriteStandardError(module, message);
    // The log pane is the GUI thread's; a report from another thread (the publisher's) waits for it.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this, message] { Memo1->AppendText(message); }, Qt::QueuedConnection);
        return;
    }
    Memo1->AppendText(message);
}

void TForm1::ShowError(const QString& message) {
    if (seams_.errorsToStandardError) {
        report::WriteStandardError(report::module::kAcquisition, message);
        return;
    }
    QMessageBox::critical(this, windowTitle(), message);
}

// --- Acquisition ---

void TForm1::Button3Click() {
    if (session_.Running())
        return;
    session_.Start();
}

void TForm1::RunFinished(const acquisition::RunOutcome& outcome) {
    ReleaseRepaints();
    switch (outcome.end) {
    case acquisition::RunEnd::Normal: lastRun_ = LastRun::Normal; break;
    case acquisition::RunEnd::TimedOut:
    case acquisition::RunEnd::UnitLost: lastRun_ = LastRun::TimedOut; break;
    case acquisition::RunEnd::Error: lastRun_ = LastRun::Error; break;
    }
    // An error that ended the run (a sweep file or a print that failed) is shown once it has ended;
    // unattended, the program's end says it.
    if (outcome.end == acquisition::RunEnd::Error && !outcome.reason.isEmpty() && !seams_.unattended)
        ShowError(outcome.reason);
    emit RunEnded();
    if (closePending_)
        close();
}

void TForm1::Button4Click() {
    session_.Stop();
}

// --- Settings ---

QString TForm1::ParamFilePath() const {
    return QDir(seams_.parameterFolder).filePath(QString::fromLatin1(settings::kParameterFileName));
}

std::array<bool, settings::kOptionCount> TForm1::OptionBoxes() const {
    std::array<bool, settings::kOptionCount> ticked{};
    for (int i = 0; i < settings::kOptionCount; ++i)
        ticked[std::size_t(i)] = OptionBox(i)->isChecked();
    return ticked;
}

QCheckBox* TForm1::OptionBox(int option) const {
    QCheckBox* const boxes[] = {CheckBox2, CheckBox3, CheckBox4, CheckBox5, CheckBox6, CheckBox7};
    return boxes[option];
}

settings::KeptSettings TForm1::Kept() const {
    settings::KeptSettings kept;
    kept.ad0Color = Ad0Color;
    kept.ad1Color = Ad1Color;
    kept.samplingTime = SamplingTime;
    kept.options = OptionBoxes();
    return kept;
}

void TForm1::ShowKept(const settings::KeptSettings& kept, BoxHandlers handlers) {
    Ad0Color = kept.ad0Color;
    Ad1Color = kept.ad1Color;
    SamplingTime = kept.samplingTime;
    Edit2->setText(QString::number(SamplingTime));
    for (int i = 0; i < settings::kOptionCount; ++i) {
        const QSignalBlocker quiet(handlers == BoxHandlers::Run ? nullptr : OptionBox(i));
        OptionBox(i)->setChecked(kept.Option(i));
    }
}

bool TForm1::LoadParameters() {
    settings::ParameterFile file(ParamFilePath());
    // A file created now holds the start-up state, so the next start looks like this one.
    const settings::SettingsLoad loaded = settings::LoadSettings(file, Kept());
    ParamRecord = loaded.record;
    switch (loaded.outcome) {
    case settings::LoadOutcome::Read:
        // The boxes' handlers run, as a click would run them.
        ShowKept(loaded.settings, BoxHandlers::Run);
        parameterNotice_ = loaded.notice;
        return true;
    case settings::LoadOutcome::Created:
        // The unit is opened on a first start too.
        return true;
    case settings::LoadOutcome::LeftAlone:
        // A file that is there but cannot be read still holds the user's settings: never replace it.
        parameterFileLeftAlone_ = true;
        [[fallthrough]];
    case settings::LoadOutcome::Unavailable:
        parameterProblem_ = loaded.problem;
        ShowStatus(kStatusNoParameterFile);
        return false;
    }
    return false;
}

void TForm1::SaveParameters() {
    if (parameterFileLeftAlone_) {
        ShowStatus(kStatusNoParameterFile);
        return;
    }
    settings::ParameterFile file(ParamFilePath());
    if (!file.Save(ParamRecord)) {
        parameterProblem_ = file.LastError();
        ShowStatus(kStatusNoParameterFile);
        ReportProblem(report::module::kSettings, parameterProblem_);
    }
}

void TForm1::StepSamplingTime(settings::SamplingStep step) {
    MessageBeep(0);
    SamplingTime = settings::StepSamplingTime(SamplingTime, step);
    Edit2->setText(QString::number(SamplingTime));
    settings::EncodeSamplingTime(ParamRecord, SamplingTime);
    SaveParameters();
}

void TForm1::Button1Click() {
    StepSamplingTime(settings::SamplingStep::Up1);
}
void TForm1::Button2Click() {
    StepSamplingTime(settings::SamplingStep::Down1);
}
void TForm1::Button9Click() {
    StepSamplingTime(settings::SamplingStep::Up10);
}
void TForm1::Button10Click() {
    StepSamplingTime(settings::SamplingStep::Down10);
}

void TForm1::ChooseColor(TColor& field, int firstRecordByte) {
    const auto chosen = colorDialog_->Execute(this);
    if (!chosen)
        return;
    field = *chosen;
    settings::EncodeColor(ParamRecord, firstRecordByte, field);
    SaveParameters();
    FollowChannelsInTrend();
}

void TForm1::Button5Click() {
    ChooseColor(Ad0Color, settings::kAd0ColorByte);
}
void TForm1::Button6Click() {
    ChooseColor(Ad1Color, settings::kAd1ColorByte);
}

void TForm1::OptionClicked(QCheckBox* box, int option) {
    settings::EncodeOption(ParamRecord, option, box->isChecked());
    SaveParameters();
    if (box == CheckBox2 || box == CheckBox3)
        FollowChannelsInTrend();
}

namespace {

// The follow span as the settings file keeps it.
const std::pair<int, QString> kSpanNames[] = {
    {60, QStringLiteral("1min")}, {600, QStringLiteral("10min")}, {3600, QStringLiteral("1h")}, {0, QStringLiteral("all")}};

} // namespace

trend::TrendWindow& TForm1::Trend() {
    if (trendWindow_)
        return *trendWindow_;
    trendWindow_ = std::make_unique<trend::TrendWindow>(trendSink_.get());
    FollowChannelsInTrend();
    auto& kept = seams_.kept;
    for (const auto& [seconds, name] : kSpanNames)
        if (kept.trendSpan == name)
            trendWindow_->SetFollowSpan(seconds);
    connect(trendWindow_.get(), &trend::TrendWindow::FollowSpanChanged, this, [this](int seconds) {
        for (const auto& [s, name] : kSpanNames)
            if (s == seconds)
                seams_.kept.trendSpan = name;
        KeepSettings();
    });
    return *trendWindow_;
}

void TForm1::KeepSettings() {
    // A file the start could not read is left as it is; the start has said so.
    if (seams_.settingsFolder.isEmpty() || seams_.kept.leaveFile)
        return;
    if (auto kept = settings::SaveAppSettings(seams_.settingsFolder, seams_.kept); !kept)
        ReportProblem(report::module::kSettings, kept.Reason());
}

void TForm1::Button15Click() {
    const WindowSettings shown{channels_, seams_.reconnect, seams_.kept.language};
    const auto given = settingsDialog_->Execute(this, shown, app::AnySet(seams_.runChannels));
    if (!given)
        return;
    app::TakeChanges(shown.channels, given->channels, seams_.kept.channels, seams_.runChannels);
    FollowChannels();
    // --reconnect sets it for this start; the file keeps it only once it is changed here.
    if (given->reconnect != shown.reconnect) {
        seams_.reconnect = seams_.kept.reconnect = given->reconnect;
        session_.SetReconnect(given->reconnect);
    }
    seams_.kept.language = given->language;
    KeepSettings();
}

void TForm1::FollowChannels() {
    channels_ = seams_.kept.channels;
    channels::Apply(channels_, seams_.runChannels);
}

void TForm1::FollowChannelsInTrend() {
    if (trendWindow_)
        trendWindow_->SetChannels(Ad0Color, Ad1Color, CheckBox2->isChecked(), CheckBox3->isChecked());
}

void TForm1::Button14Click() {
    Trend().ShowAndRaise();
}

void TForm1::CheckBox2Click() {
    OptionClicked(CheckBox2, 0);
}
void TForm1::CheckBox3Click() {
    OptionClicked(CheckBox3, 1);
}
void TForm1::CheckBox4Click() {
    OptionClicked(CheckBox4, 2);
}
void TForm1::CheckBox5Click() {
    OptionClicked(CheckBox5, 3);
}
void TForm1::CheckBox6Click() {
    OptionClicked(CheckBox6, 4);
}
void TForm1::CheckBox7Click() {
    OptionClicked(CheckBox7, 5);
}

// --- Records and output ---

report::Done TForm1::PrintChart(float scale) {
    return printing::PrintPictureAfterDialog(*printDialog_, this, printing::ProcessPrinter(), Image1->Picture(), scale);
}

report::Done TForm1::PrintChartNow() {
    return printing::PrintPicture(printing::ProcessPrinter(), Image1->Picture(), printing::kPrintScale);
}

void TForm1::Button8Click() {
    if (auto printed = PrintChart(printing::kPrintScale); !printed)
        ShowError(printed.Reason());
}

void TForm1::Button7Click() {
    const auto outcome = output::DeleteSweepFiles(Edit3->text(), QDir::currentPath());
    if (!outcome.message.isEmpty())
        ShowStatus(outcome.message);
}
