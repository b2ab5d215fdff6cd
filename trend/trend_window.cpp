#include "trend/trend_window.h"

#include "chart/digital_levels.h"
#include "trend/decimation.h"
#include "trend/record_loader.h"
#include "trend/record_reader.h"
#include "trend/statistics.h"
#include "trend/trend_export.h"
#include "trend/trend_sink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QMessageBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QPushButton>
#include <QRubberBand>
#include <QShortcut>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QTableWidget>
#include <QTimeZone>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <qcustomplot.h>

namespace trend {

namespace {

// While following, the run going on is redrawn at most this often.
constexpr int kLiveRedrawMs = 1000;
// A record still being written is read on this often: its new rows show within a second.
constexpr int kGrowthMs = 500;
// A wheel step zooms by this factor.
constexpr double kWheelZoom = 0.8;
// A press that moves less than this many pixels is a click.
constexpr int kClickSlop = 3;
// Where the digital lines lie in their band: HH on top, each 0.7 high.
constexpr double kLevelHeight = 0.7;
const QColor kGreyed(190, 190, 190);
const QColor kCursorColors[2] = {QColor(0, 130, 200), QColor(200, 0, 130)};

// A line one pixel wide whatever the scale: the raster engine's quickest.
QPen Hairline(const QColor& color, Qt::PenStyle style = Qt::SolidLine) {
    QPen pen(color, 1, style);
    pen.setCosmetic(true);
    return pen;
}

enum ExportKind { kPng, kPdf, kSvg, kCsv };

// The layer of AD1's graphs, under the main one; and under it, the shading of the time outside limits.
const QString kAd1Layer = QStringLiteral("ad1");
const QString kOutsideLayer = QStringLiteral("outside");
// How much of a channel's colour the shading of its time outside its limits takes.
constexpr int kOutsideAlpha = 40;

// A channel's name as the legend and the read-out give it.
QString NameOf(const Units& units, Channel channel) {
    return units.channel.name.isEmpty() ? DefaultUnits(channel).channel.name : units.channel.name;
}

// A reading in the view's unit, or a dash where there is none: "3.07 V", "307 °C".
QString ValueText(const Units& units, std::int16_t hundredths) {
    return hundredths == kNoVolts ? QStringLiteral("—") : units.WithUnit(units.ValueOf(hundredths));
}

constexpr Channel kAnalog[2] = {Channel::Ad0, Channel::Ad1};

} // namespace

// A trace on show with its graphs.
struct TrendWindow::Shown {
    std::shared_ptr<const Trace> trace;
    bool live = false;
    std::array<QCPGraph*, 2> volts{};
    std::array<QCPGraph*, 4> levels{};
    std::array<QCPGraph*, 4> events{}; // no reply, unit lost, unit back, clock set back
    std::array<QCPGraph*, 2> outside{}; // AD0's and AD1's time outside their limits, shaded
    std::array<std::size_t, 2> axis{};  // AD0's and AD1's value axis, by its index
    // Where the clock went back within the view, the lines of the rows after it overlap those before in
    // time: they go on graphs of their own (AD0, AD1, HH, HL, LH, LL), out of the legend.
    std::vector<std::array<QCPGraph*, 6>> overlaps;
    // A record opened while another process was writing it, read on as it grows; null once it no
    // longer does (or for the run going on, which comes through the sink).
    std::unique_ptr<RecordTail> tail;
};

namespace {

constexpr acquisition::SampleNote kEventNotes[3] = {
    acquisition::SampleNote::NoReply, acquisition::SampleNote::UnitLost, acquisition::SampleNote::UnitBack};
// The rows' notes, and then where the clock was set back.
const char* const kEventNames[4] = {QT_TRANSLATE_NOOP("trend::TrendWindow", "応答なし"),
                                    QT_TRANSLATE_NOOP("trend::TrendWindow", "ユニット切断"),
                                    QT_TRANSLATE_NOOP("trend::TrendWindow", "ユニット復帰"),
                                    QT_TRANSLATE_NOOP("trend::TrendWindow", "時計の巻き戻し")};
constexpr std::size_t kClockBack = 3;
const QColor kEventColors[4] = {QColor(128, 128, 128), QColor(220, 0, 0), QColor(0, 160, 0), QColor(230, 120, 0)};

} // namespace

// The clock axis: the date on its first label and on each label whose day is not the one before.
class ClockTicker : public QCPAxisTickerDateTime {
public:
    void SetZone(const QTimeZone& zone) {
        zone_ = zone;
        setTimeZone(zone);
    }
    void SetTimeFormat(const QString& format) { timeFormat_ = format; }

protected:
    QVector<QString> createLabelVector(const QVector<double>& ticks, const QLocale& locale, QChar, int) override {
        QVector<QString> labels;
        labels.reserve(ticks.size());
        QDate previous;
        for (double tick : ticks) {
            const QDateTime at = QDateTime::fromMSecsSinceEpoch(std::llround(tick * 1000), zone_);
            QString label = locale.toString(at, timeFormat_);
            if (at.date() != previous)
                label = locale.toString(at, QStringLiteral("yyyy-MM-dd")) + QLatin1Char('\n') + label;
            previous = at.date();
            labels.append(label);
        }
        return labels;
    }

private:
    QTimeZone zone_ = QTimeZone::systemTimeZone();
    QString timeFormat_ = QStringLiteral("HH:mm:ss");
};

// Seconds since START: plain seconds under a day's span, d h:mm:ss from one on.
class ElapsedTicker : public QCPAxisTicker {
public:
    void SetDays(bool days) { days_ = days; }
    void SetPrecision(int precision) { precision_ = precision; }

protected:
    QString getTickLabel(double tick, const QLocale& locale, QChar, int) override {
        if (!days_)
            return locale.toString(tick, 'f', precision_);
        const long long total = std::llround(std::abs(tick));
        const QString text = QStringLiteral("%1 d %2:%3:%4")
                                 .arg(total / 86400)
                                 .arg(total % 86400 / 3600)
                                 .arg(total % 3600 / 60, 2, 10, QLatin1Char('0'))
                                 .arg(total % 60, 2, 10, QLatin1Char('0'));
        return tick < 0 ? QLatin1Char('-') + text : text;
    }

private:
    bool days_ = false;
    int precision_ = 0;
};

TrendWindow::TrendWindow(TrendSink* live, TrendDialogs dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window), live_(live), dialogs_(std::move(dialogs)),
      loader_(std::make_unique<RecordLoader>()) {
    setWindowTitle(tr("トレンド"));
    setObjectName(QStringLiteral("TrendWindow"));
    resize(960, 640);
    BuildControls();
    BuildPlot();
    statsLater_ = new QTimer(this);
    statsLater_->setSingleShot(true);
    statsLater_->setInterval(0);
    connect(statsLater_, &QTimer::timeout, this, &TrendWindow::UpdateCursorItems);
    liveRedraw_ = new QTimer(this);
    liveRedraw_->setSingleShot(true);
    liveRedraw_->setInterval(kLiveRedrawMs);
    connect(liveRedraw_, &QTimer::timeout, this, [this] { Redraw(); });
    growth_ = new QTimer(this);
    growth_->setInterval(kGrowthMs);
    connect(growth_, &QTimer::timeout, this, &TrendWindow::ReadGrowth);
    connect(loader_.get(), &RecordLoader::Progress, this, [this](int permille, const QString& name) {
        readingName_->setText(tr("記録を読んでいます: %1").arg(name));
        readingBar_->setValue(permille);
    });
    connect(loader_.get(), &RecordLoader::Done, this, &TrendWindow::ShowRead);
    if (live_) {
        // Beside the main form, which alone ends the program when it closes.
        setAttribute(Qt::WA_QuitOnClose, false);
        if (live_->Live())
            AddShown(live_->Live()).live = true;
        live_->changed = [this](bool newTrace) { LiveChanged(newTrace); };
    }
    FitAll();
    SetFollowing(live_ != nullptr);
}

TrendWindow::~TrendWindow() {
    if (live_)
        live_->changed = nullptr;
    loader_.reset(); // a read going on stops before the window goes
}

void TrendWindow::BuildControls() {
    const auto button = [this](const QString& text) { return new QPushButton(text, this); };
    openButton_ = button(tr("記録を開く…"));
    openButton_->setToolTip(tr("記録ファイル (CSV) を開きます (Ctrl+O)"));
    connect(openButton_, &QPushButton::clicked, this, &TrendWindow::AskOpen);
    closeButton_ = button(tr("記録を閉じる"));
    connect(closeButton_, &QPushButton::clicked, this, &TrendWindow::CloseRecords);
    exportButton_ = button(tr("書き出し"));
    exportButton_->setObjectName(QStringLiteral("export"));
    auto* exportMenu = new QMenu(exportButton_);
    const QString kinds[] = {tr("画像 (PNG)…"), tr("PDF…"), tr("SVG…"), tr("表示範囲の CSV…")};
    for (int kind = kPng; kind <= kCsv; ++kind)
        connect(exportMenu->addAction(kinds[kind]), &QAction::triggered, this,
                [this, kind] { AskSave(kind); });
    exportButton_->setMenu(exportMenu);

    axisBox_ = new QComboBox(this);
    axisBox_->addItems({tr("時刻"), tr("START からの秒数")});
    connect(axisBox_, &QComboBox::activated, this, [this](int index) { SetElapsedAxis(index == 1); });
    followBox_ = new QCheckBox(tr("追従"), this);
    followBox_->setToolTip(tr("最新のサンプルを表示し続けます (End)"));
    connect(followBox_, &QCheckBox::clicked, this, &TrendWindow::SetFollowing);
    spanBox_ = new QComboBox(this);
    spanBox_->addItems({tr("1 分"), tr("10 分"), tr("1 時間"), tr("全体")});
    spanBox_->setCurrentIndex(1);
    connect(spanBox_, &QComboBox::activated, this, [this](int index) {
        SetFollowSpan(kFollowSpans[std::size_t(index)]);
        SetFollowing(true);
    });
    fitButton_ = button(tr("全体を表示"));
    fitButton_->setToolTip(tr("全体を表示します (Home, ダブルクリック)"));
    connect(fitButton_, &QPushButton::clicked, this, &TrendWindow::FitAll);
    autoButton_ = button(tr("電圧の自動調整"));
    autoButton_->setCheckable(true);
    autoButton_->setChecked(true);
    connect(autoButton_, &QPushButton::clicked, this, &TrendWindow::SetAutoScale);
    voltsButton_ = button(tr("ボルト表示"));
    voltsButton_->setObjectName(QStringLiteral("showVolts"));
    voltsButton_->setToolTip(tr("各チャンネルの単位ではなく、読み取った電圧 (V) のまま表示します"));
    voltsButton_->setCheckable(true);
    connect(voltsButton_, &QPushButton::clicked, this, &TrendWindow::SetShowVolts);

    // Two rows, the records and the view, so that the window fits beside the main one.
    auto* bar = new QHBoxLayout;
    for (QWidget* w : std::initializer_list<QWidget*>{openButton_, closeButton_, exportButton_})
        bar->addWidget(w);
    bar->addStretch(1);
    auto* viewBar = new QHBoxLayout;
    viewBar->addWidget(new QLabel(tr("時間軸:"), this));
    viewBar->addWidget(axisBox_);
    viewBar->addSpacing(12);
    for (QWidget* w :
         std::initializer_list<QWidget*>{followBox_, spanBox_, fitButton_, autoButton_, voltsButton_})
        viewBar->addWidget(w);
    viewBar->addStretch(1);
    // At the end of the buttons' row, so that the plot keeps its size (and its buffers) while a record
    // is read.
    reading_ = new QWidget(this);
    readingName_ = new QLabel(reading_);
    readingName_->setMinimumWidth(1); // a long name is cut rather than widening the window
    readingName_->setMaximumWidth(240);
    readingBar_ = new QProgressBar(reading_);
    readingBar_->setRange(0, 1000);
    readingBar_->setTextVisible(false);
    readingBar_->setFixedWidth(120);
    auto* cancel = new QPushButton(tr("キャンセル"), reading_);
    cancel->setObjectName(QStringLiteral("cancelReading"));
    connect(cancel, &QPushButton::clicked, this, &TrendWindow::CancelReading);
    auto* readingRow = new QHBoxLayout(reading_);
    readingRow->setContentsMargins(0, 0, 0, 0);
    readingRow->addWidget(readingName_);
    readingRow->addWidget(readingBar_);
    readingRow->addWidget(cancel);
    reading_->hide();
    bar->addWidget(reading_);

    plot_ = new QCustomPlot(this);
    plot_->setFocusPolicy(Qt::StrongFocus);
    readOut_ = new QLabel(this);
    readOut_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cursorOut_ = new QLabel(this);
    cursorOut_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stats_ = new QTableWidget(0, 7, this);
    stats_->setObjectName(QStringLiteral("statistics"));
    stats_->setHorizontalHeaderLabels({tr("チャンネル"), QStringLiteral("n"), QStringLiteral("min"),
                                       QStringLiteral("max"), QStringLiteral("mean"), QStringLiteral("RMS"),
                                       QStringLiteral("σ")});
    stats_->verticalHeader()->hide();
    stats_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    stats_->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContents);
    stats_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    stats_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    stats_->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copyStats = new QAction(tr("コピー"), stats_);
    copyStats->setShortcut(QKeySequence::Copy);
    copyStats->setShortcutContext(Qt::WidgetShortcut);
    connect(copyStats, &QAction::triggered, this,
            [this] { QApplication::clipboard()->setText(Statistics()); });
    stats_->addAction(copyStats);
    messages_ = new QLabel(this);
    messages_->setWordWrap(true);
    messages_->setStyleSheet(QStringLiteral("color: #c00000"));
    messages_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    messages_->hide();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(bar);
    layout->addLayout(viewBar);
    layout->addWidget(plot_, 1);
    layout->addWidget(readOut_);
    layout->addWidget(cursorOut_);
    layout->addWidget(stats_);
    layout->addWidget(messages_);

    const auto key = [this](QKeySequence sequence, auto slot) {
        connect(new QShortcut(sequence, this), &QShortcut::activated, this, slot);
    };
    key(QKeySequence(Qt::CTRL | Qt::Key_O), [this] { AskOpen(); });
    key(QKeySequence(Qt::Key_Home), [this] { FitAll(); });
    key(QKeySequence(Qt::Key_End), [this] { SetFollowing(true); });
    key(QKeySequence(Qt::Key_Escape), [this] { ClearCursors(); });
    key(QKeySequence(Qt::Key_Plus),
        [this] { ZoomTime(kWheelZoom, (TimeRange().first + TimeRange().second) / 2); });
    key(QKeySequence(Qt::Key_Minus),
        [this] { ZoomTime(1 / kWheelZoom, (TimeRange().first + TimeRange().second) / 2); });
    for (const auto& [k, direction] : {std::pair{Qt::Key_Left, -1}, std::pair{Qt::Key_Right, 1}})
        key(QKeySequence(k), [this, direction = direction] {
            const auto [from, to] = TimeRange();
            SetTimeRange(from + direction * (to - from) / 10, to + direction * (to - from) / 10);
        });
}

void TrendWindow::BuildPlot() {
    plot_->setMouseTracking(true);
    // Lines of a pixel drawn as polylines between breaks, not one segment at a time.
    plot_->setPlottingHint(QCP::phFastPolylines, false);
    voltsRect_ = plot_->axisRect();
    plot_->addLayer(kAd1Layer, plot_->layer(QStringLiteral("main")), QCustomPlot::limBelow);
    plot_->addLayer(kOutsideLayer, plot_->layer(kAd1Layer), QCustomPlot::limBelow);
    levelsRect_ = new QCPAxisRect(plot_);
    plot_->plotLayout()->addElement(1, 0, levelsRect_);
    plot_->plotLayout()->setRowStretchFactor(0, 3);
    plot_->plotLayout()->setRowStretchFactor(1, 1);
    plot_->plotLayout()->setRowSpacing(0);
    auto* margins = new QCPMarginGroup(plot_);
    voltsRect_->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    levelsRect_->setMarginGroup(QCP::msLeft | QCP::msRight, margins);
    voltsRect_->setAutoMargins(QCP::msLeft | QCP::msRight | QCP::msTop);
    voltsRect_->setMargins(QMargins(0, 0, 0, 4));
    levelsRect_->setAutoMargins(QCP::msLeft | QCP::msRight | QCP::msBottom);
    levelsRect_->setMargins(QMargins(0, 4, 0, 0));

    timeOfVolts_ = voltsRect_->axis(QCPAxis::atBottom);
    timeOfLevels_ = levelsRect_->axis(QCPAxis::atBottom);
    volts_ = voltsRect_->axis(QCPAxis::atLeft);
    valueAxes_ = {volts_};
    lines_ = levelsRect_->axis(QCPAxis::atLeft);
    events_ = voltsRect_->axis(QCPAxis::atRight);
    events_->setRange(0, 1);
    timeOfVolts_->setTickLabels(false);
    volts_->setLabel(tr("電圧 (V)"));
    volts_->setRange(0, 6);

    auto levelTicks = QSharedPointer<QCPAxisTickerText>::create();
    const char* const names[4] = {"HH", "HL", "LH", "LL"};
    for (int j = 0; j < 4; ++j)
        levelTicks->addTick(3 - j + kLevelHeight / 2, QString::fromLatin1(names[j]));
    lines_->setTicker(levelTicks);
    lines_->setRange(-0.3, 4.0);
    lines_->grid()->setVisible(false);
    lines_->setTickLength(0, 0);
    lines_->setSubTicks(false);
    lines_->setLabel(QStringLiteral(" "));

    clockTicker_ = QSharedPointer<ClockTicker>::create();
    secondsTicker_ = QSharedPointer<ElapsedTicker>::create();
    for (QCPAxis* axis : {timeOfVolts_, timeOfLevels_})
        axis->setTicker(clockTicker_);

    plot_->legend->setVisible(true);
    plot_->legend->setBrush(QColor(255, 255, 255, 210));
    plot_->legend->setRowSpacing(0);
    QFont legendFont = font();
    legendFont.setPointSizeF(legendFont.pointSizeF() * 0.9);
    plot_->legend->setFont(legendFont);
    voltsRect_->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);

    for (int which = 0; which < 2; ++which)
        for (int band = 0; band < 2; ++band) {
            auto* line = new QCPItemStraightLine(plot_);
            QCPAxisRect* rect = band == 0 ? voltsRect_ : levelsRect_;
            for (QCPItemPosition* p : {line->point1, line->point2})
                p->setAxes(rect->axis(QCPAxis::atBottom), rect->axis(QCPAxis::atLeft));
            line->setClipAxisRect(rect);
            line->setPen(QPen(kCursorColors[which], 1));
            line->setVisible(false);
            cursors_[std::size_t(which)].lines[std::size_t(band)] = line;
        }

    band_ = new QRubberBand(QRubberBand::Rectangle, plot_);
    connect(plot_, &QCustomPlot::beforeReplot, this, &TrendWindow::Prepare);
    connect(plot_, &QCustomPlot::afterLayout, this, &TrendWindow::Fill);
    connect(plot_, &QCustomPlot::mousePress, this, &TrendWindow::MousePress);
    connect(plot_, &QCustomPlot::mouseMove, this, &TrendWindow::MouseMove);
    connect(plot_, &QCustomPlot::mouseRelease, this, &TrendWindow::MouseRelease);
    connect(plot_, &QCustomPlot::mouseWheel, this, &TrendWindow::MouseWheel);
    connect(plot_, &QCustomPlot::mouseDoubleClick, this, [this] {
        // The first click of the two put a cursor; a double click only fits.
        for (std::size_t i = 0; i < cursors_.size(); ++i)
            cursors_[i].keyS = cursorsBeforeClick_[i];
        UpdateCursorItems();
        FitAll();
    });
}

TrendWindow::Shown& TrendWindow::AddShown(std::shared_ptr<const Trace> trace) {
    auto shown = std::make_unique<Shown>();
    shown->trace = std::move(trace);
    const auto lines = AddLineGraphs();
    std::copy(lines.begin(), lines.begin() + 2, shown->volts.begin());
    std::copy(lines.begin() + 2, lines.end(), shown->levels.begin());
    for (std::size_t e = 0; e < shown->events.size(); ++e) {
        QCPGraph* g = plot_->addGraph(timeOfVolts_, events_);
        g->setLineStyle(QCPGraph::lsImpulse);
        g->setPen(Hairline(kEventColors[e], Qt::DashLine));
        g->setName(tr(kEventNames[e]));
        g->setAntialiased(false);
        g->removeFromLegend();
        shown->events[e] = g;
    }
    for (QCPGraph*& g : shown->outside) {
        // Filled from the top of the band down to its foot, where the channel was outside.
        g = plot_->addGraph(timeOfVolts_, events_);
        g->setLayer(kOutsideLayer);
        g->setLineStyle(QCPGraph::lsStepLeft);
        g->setPen(Qt::NoPen);
        g->setAntialiased(false);
        g->setAntialiasedFill(false);
        g->removeFromLegend();
    }
    shown_.push_back(std::move(shown));
    StyleGraphs(*shown_.back());
    NameWindow();
    return *shown_.back();
}

std::array<QCPGraph*, 6> TrendWindow::AddLineGraphs() {
    std::array<QCPGraph*, 6> graphs{};
    for (int c = 0; c < 2; ++c) {
        graphs[std::size_t(c)] = plot_->addGraph(timeOfVolts_, volts_);
        graphs[std::size_t(c)]->setAdaptiveSampling(false);
    }
    // AD1 under everything else, so that AD0's line shows over AD1's band when zoomed out.
    graphs[1]->setLayer(kAd1Layer);
    for (std::size_t j = 0; j < 4; ++j) {
        QCPGraph* g = plot_->addGraph(timeOfLevels_, lines_);
        g->setAdaptiveSampling(false);
        g->setLineStyle(QCPGraph::lsStepLeft);
        g->setPen(Hairline(ToQColor(chart::kDigitalLines[j].color)));
        g->setAntialiased(false);
        g->removeFromLegend();
        graphs[2 + j] = g;
    }
    return graphs;
}

void TrendWindow::NameWindow() {
    QStringList names;
    for (const auto& shown : shown_)
        names << (shown->trace->Name().isEmpty() ? tr("現在の測定") : shown->trace->Name());
    setWindowTitle(names.isEmpty() ? tr("トレンド") : tr("トレンド") + QStringLiteral(" — ") + names.join(QStringLiteral(", ")));
}

void TrendWindow::RemoveShown(std::size_t index) {
    Shown& shown = *shown_[index];
    for (QCPGraph* g : shown.volts)
        plot_->removeGraph(g);
    for (QCPGraph* g : shown.levels)
        plot_->removeGraph(g);
    for (QCPGraph* g : shown.events)
        plot_->removeGraph(g);
    for (QCPGraph* g : shown.outside)
        plot_->removeGraph(g);
    for (const auto& overlap : shown.overlaps)
        for (QCPGraph* g : overlap)
            plot_->removeGraph(g);
    shown_.erase(shown_.begin() + std::ptrdiff_t(index));
    NameWindow();
}

void TrendWindow::StyleGraphs(Shown& shown) {
    // An opened record (named after its file) dashed, the run going on solid.
    const bool record = !shown.trace->Name().isEmpty();
    const QString suffix = record ? QStringLiteral(" — ") + shown.trace->Name() : QString();
    for (std::size_t c = 0; c < 2; ++c) {
        const QColor color = channelOn_[c] ? ToQColor(colors_[c]) : kGreyed;
        const QPen pen = Hairline(color, record ? Qt::DashLine : Qt::SolidLine);
        QCPGraph* g = shown.volts[c];
        g->setPen(pen);
        g->setAntialiased(false);
        g->setName(NameOf(shown.trace->UnitsOf(kAnalog[c]), kAnalog[c]) +
                   (channelOn_[c] ? QString() : tr(" (オフ)")) + suffix);
        QColor tint = color;
        tint.setAlpha(kOutsideAlpha);
        shown.outside[c]->setBrush(tint);
        for (const auto& overlap : shown.overlaps) {
            overlap[c]->setPen(pen);
            overlap[c]->setAntialiased(false);
            overlap[c]->removeFromLegend();
        }
    }
}

void TrendWindow::SetChannels(TColor ad0, TColor ad1, bool ad0On, bool ad1On) {
    colors_[0] = ad0;
    colors_[1] = ad1;
    channelOn_[0] = ad0On;
    channelOn_[1] = ad1On;
    for (auto& shown : shown_)
        StyleGraphs(*shown);
    Redraw();
}

const TrendWindow::Shown* TrendWindow::LiveShown() const {
    for (const auto& shown : shown_)
        if (shown->live)
            return shown.get();
    return nullptr;
}

const TrendWindow::Shown* TrendWindow::Followed() const {
    if (const Shown* live = LiveShown())
        return live;
    for (auto it = shown_.rbegin(); it != shown_.rend(); ++it)
        if ((*it)->tail)
            return it->get();
    return nullptr;
}

bool TrendWindow::Growing() const {
    return std::any_of(shown_.begin(), shown_.end(), [](const auto& shown) { return shown->tail != nullptr; });
}

void TrendWindow::ReadGrowth() {
    bool grew = false;
    QStringList said;
    for (const auto& shown : shown_) {
        if (!shown->tail)
            continue;
        const RecordTail::Step step = shown->tail->ReadOn();
        grew = grew || step.rows > 0;
        if (!step.said.isEmpty())
            said << step.said;
        if (step.ending != RecordTail::Ending::None)
            shown->tail.reset();
    }
    if (!Growing()) {
        growth_->stop();
        if (!Followed())
            SetFollowing(false);
    }
    if (!said.isEmpty()) {
        const QString before = Messages();
        ShowMessages((before.isEmpty() ? QStringList() : QStringList{before}) + said);
        emit Said(said);
    }
    if (grew)
        Redraw();
}

const Trace* TrendWindow::LiveTrace() const {
    const Shown* live = LiveShown();
    return live ? live->trace.get() : nullptr;
}

void TrendWindow::LiveChanged(bool newTrace) {
    if (newTrace) {
        // The run before stays in its record; the window keeps only the run going on.
        for (std::size_t i = 0; i < shown_.size(); ++i)
            if (shown_[i]->live) {
                RemoveShown(i);
                break;
            }
        ClearCursors();
        AddShown(live_->Live()).live = true;
        SetFollowing(true); // a new run is followed from its START
    }
    if (!isVisible() || isMinimized()) {
        liveDirty_ = true;
        return;
    }
    // A sample beyond the view of a window not following changes nothing on show.
    const Trace& t = *live_->Live();
    if (!newTrace && !Following() && !t.Empty() && KeySeconds(t, keys_, t.Size() - 1) > TimeRange().second &&
        t.Size() > 1 && KeySeconds(t, keys_, t.Size() - 2) > TimeRange().second)
        return;
    if (!liveRedraw_->isActive())
        liveRedraw_->start();
}

void TrendWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (liveDirty_) {
        liveDirty_ = false;
        Redraw();
    }
}

void TrendWindow::closeEvent(QCloseEvent* event) {
    CancelReading();
    QWidget::closeEvent(event);
}

void TrendWindow::ShowAndRaise() {
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

std::optional<std::pair<double, double>> TrendWindow::KeysOfAll() const {
    std::optional<std::pair<double, double>> keys;
    for (const auto& shown : shown_) {
        const Trace& t = *shown->trace;
        if (t.Empty())
            continue;
        const auto [firstMs, lastMs] = t.KeyRangeMs(keys_);
        const double first = double(firstMs) / 1000.0, last = double(lastMs) / 1000.0;
        keys = keys ? std::pair{std::min(keys->first, first), std::max(keys->second, last)}
                    : std::pair{first, last};
    }
    return keys;
}

std::pair<double, double> TrendWindow::TimeRange() const {
    return {timeOfVolts_->range().lower, timeOfVolts_->range().upper};
}

void TrendWindow::ApplyTimeRange(double fromS, double toS) {
    if (!(toS > fromS))
        toS = fromS + 0.001;
    for (QCPAxis* axis : {timeOfVolts_, timeOfLevels_})
        axis->setRange(fromS, toS);
}

void TrendWindow::SetTimeRange(double fromS, double toS) {
    SetFollowing(false);
    ApplyTimeRange(fromS, toS);
    Redraw();
}

void TrendWindow::FitAll() {
    SetFollowing(false);
    if (const auto keys = KeysOfAll()) {
        const double margin = std::max((keys->second - keys->first) * 0.01, 0.5);
        ApplyTimeRange(keys->first - margin, keys->second + margin);
    } else if (keys_ == Trace::Keys::Clock) {
        const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        ApplyTimeRange(now - followSpan_, now);
    } else {
        ApplyTimeRange(0, 60);
    }
    SetAutoScale(true);
}

bool TrendWindow::Following() const {
    return followBox_->isChecked();
}

void TrendWindow::SetFollowing(bool on) {
    const bool followable = live_ != nullptr || Growing();
    on = on && followable;
    followBox_->setChecked(on);
    followBox_->setEnabled(followable);
    if (on)
        Redraw();
}

void TrendWindow::SetFollowSpan(int seconds) {
    const auto it = std::find(kFollowSpans.begin(), kFollowSpans.end(), seconds);
    if (it == kFollowSpans.end())
        return;
    spanBox_->setCurrentIndex(int(it - kFollowSpans.begin()));
    if (followSpan_ == seconds)
        return;
    followSpan_ = seconds;
    emit FollowSpanChanged(seconds);
    if (Following())
        Redraw();
}

void TrendWindow::SetAutoScale(bool on) {
    autoScale_ = on;
    autoButton_->setChecked(on);
    if (on)
        Redraw();
}

void TrendWindow::SetElapsedAxis(bool elapsed) {
    const Trace::Keys keys = elapsed ? Trace::Keys::Elapsed : Trace::Keys::Clock;
    axisBox_->setCurrentIndex(elapsed ? 1 : 0);
    if (keys == keys_)
        return;
    // The same moments, counted from the first trace's START.
    std::optional<double> startS;
    for (const auto& shown : shown_)
        if (!shown->trace->Empty()) {
            startS = double(shown->trace->TimeMs(0) - shown->trace->ElapsedMs(0)) / 1000.0;
            break;
        }
    const auto [from, to] = TimeRange();
    keys_ = keys;
    for (QCPAxis* axis : {timeOfVolts_, timeOfLevels_})
        axis->setTicker(elapsed ? QSharedPointer<QCPAxisTicker>(secondsTicker_)
                                : QSharedPointer<QCPAxisTicker>(clockTicker_));
    ClearCursors();
    if (startS)
        ApplyTimeRange(elapsed ? from - *startS : from + *startS, elapsed ? to - *startS : to + *startS);
    else
        ApplyTimeRange(elapsed ? 0 : from, elapsed ? 60 : to);
    Redraw();
}

void TrendWindow::FollowRange() {
    const Shown* followed = Followed();
    if (!Following() || !followed || followed->trace->Empty())
        return;
    const Trace& t = *followed->trace;
    // The span, or the run since START while it is shorter.
    // Since the clock was last set back, if it was.
    const double last = KeySeconds(t, keys_, t.Size() - 1);
    const double start = KeySeconds(t, keys_, t.SegmentStarts(keys_).back());
    const double first = followSpan_ > 0 ? std::max(start, last - followSpan_) : start;
    const double width = std::max(last - first, 1.0);
    ApplyTimeRange(first, last + width * 0.02);
}

void TrendWindow::Redraw() {
    if (isVisible())
        plot_->replot(QCustomPlot::rpQueuedReplot);
    else
        liveDirty_ = true;
}

void TrendWindow::Prepare() {
    liveRedraw_->stop();
    FollowRange();
    AssignAxes();
    ScaleVolts();
    TimeAxisLabels();
    EventLegend();
}

// Called by each replot once the layout is known: what each trace shows at this width.
void TrendWindow::Fill() {
    const auto [from, to] = TimeRange();
    filledColumns_ = std::max(voltsRect_->width(), 1);
    const Span span{keys_, from, to, filledColumns_};
    for (const auto& shown : shown_) {
        const Trace& t = *shown->trace;
        const std::vector<Grid> grids = GridsOf(t, span);
        std::array<std::vector<Polyline>, 6> layers; // AD0, AD1, HH, HL, LH, LL
        for (std::size_t c = 0; c < 2; ++c) {
            layers[c] = VoltsLines(t, kAnalog[c], grids);
            const Units units = ViewUnits(t, kAnalog[c]);
            if (units.Volts())
                continue;
            const double slope = units.channel.scale.Slope(), offset = units.channel.scale.Offset();
            for (Polyline& line : layers[c])
                for (double& v : line.values)
                    v = slope * v + offset; // a break (NaN) stays one
        }
        // The time outside the limits, from each crossing out to its way back.
        for (std::size_t c = 0; c < 2; ++c) {
            QVector<double> keys, tops;
            for (const Outside& stretch : t.OutsideOf(kAnalog[c])) {
                double first = KeySeconds(t, keys_, stretch.from), last = KeySeconds(t, keys_, stretch.to);
                if (last < first)
                    std::swap(first, last);
                if (last < from || first > to)
                    continue;
                keys << first << last;
                tops << 1.0 << 0.0;
            }
            shown->outside[c]->setData(keys, tops);
        }
        for (auto& levels : LevelLines(t, grids))
            for (std::size_t j = 0; j < 4; ++j) {
                for (double& v : levels[j].values)
                    v = v * kLevelHeight + double(3 - j);
                layers[2 + j].push_back(std::move(levels[j]));
            }
        std::size_t depth = 1;
        for (const auto& layer : layers)
            depth = std::max(depth, layer.size());
        while (shown->overlaps.size() + 1 < depth) {
            shown->overlaps.push_back(AddLineGraphs());
            for (std::size_t c = 0; c < 2; ++c)
                shown->overlaps.back()[c]->setValueAxis(ValueAxis(shown->axis[c]));
            StyleGraphs(*shown);
        }
        for (std::size_t g = 0; g < 6; ++g)
            for (std::size_t k = 0; k <= shown->overlaps.size(); ++k) {
                QCPGraph* graph = k == 0 ? (g < 2 ? shown->volts[g] : shown->levels[g - 2]) : shown->overlaps[k - 1][g];
                if (k < layers[g].size())
                    graph->setData(layers[g][k].keys, layers[g][k].values, true);
                else
                    graph->data()->clear();
            }
        for (std::size_t e = 0; e < shown->events.size(); ++e) {
            const QVector<double> keys = e == kClockBack ? ClockBackKeys(t, span) : EventKeys(t, kEventNotes[e], span);
            shown->events[e]->setData(keys, QVector<double>(keys.size(), 1.0), true);
        }
    }
    // The cursors' read-out and the numbers of the rows now in view, once this replot is over: the
    // table can change the plot's size, and a plot resized while it replots is not drawn again.
    statsLater_->start();
}

void TrendWindow::EventLegend() {
    for (const auto& shown : shown_) {
        const Trace& t = *shown->trace;
        for (std::size_t e = 0; e < shown->events.size(); ++e) {
            // In the legend once, for a kind the traces hold.
            const bool inLegend = plot_->legend->hasItemWithPlottable(shown->events[e]);
            bool wanted = e == kClockBack ? t.SegmentCount(keys_) > 1
                                          : std::any_of(t.Events().begin(), t.Events().end(),
                                                        [e](const Event& ev) { return ev.note == kEventNotes[e]; });
            for (const auto& other : shown_) {
                if (other.get() == shown.get())
                    break;
                wanted = wanted && !plot_->legend->hasItemWithPlottable(other->events[e]);
            }
            if (wanted && !inLegend)
                shown->events[e]->addToLegend();
            else if (!wanted && inLegend)
                shown->events[e]->removeFromLegend();
        }
    }
}

Units TrendWindow::ViewUnits(const Trace& trace, Channel channel) const {
    if (!showVolts_)
        return trace.UnitsOf(channel);
    Units volts = DefaultUnits(channel);
    volts.channel.name = trace.UnitsOf(channel).channel.name;
    return volts;
}

QCPAxis* TrendWindow::ValueAxis(std::size_t index) {
    while (valueAxes_.size() <= index) {
        QCPAxis* axis = voltsRect_->addAxis(QCPAxis::atRight);
        axis->setLowerEnding(QCPLineEnding::esNone);
        axis->setUpperEnding(QCPLineEnding::esNone);
        axis->grid()->setVisible(false);
        axis->grid()->setZeroLinePen(Qt::NoPen);
        valueAxes_.push_back(axis);
    }
    return valueAxes_[index];
}

void TrendWindow::AssignAxes() {
    // The units in the order the traces hold them, of the channels that hold a reading (of every
    // channel while none does yet).
    axisUnits_.clear();
    std::vector<QStringList> names;
    for (const bool anyReading : {true, false}) {
        for (const auto& shown : shown_) {
            const Trace& t = *shown->trace;
            for (std::size_t c = 0; c < 2; ++c) {
                if (anyReading && !t.FirstWith(kAnalog[c], 0, t.Size()))
                    continue;
                const Units units = ViewUnits(t, kAnalog[c]);
                std::size_t k = 0;
                while (k < axisUnits_.size() && axisUnits_[k].channel.unit != units.channel.unit)
                    ++k;
                if (k == axisUnits_.size()) {
                    axisUnits_.push_back(units);
                    names.emplace_back();
                }
                if (const QString name = NameOf(units, kAnalog[c]); !names[k].contains(name))
                    names[k] << name;
            }
        }
        if (!axisUnits_.empty())
            break;
    }
    if (axisUnits_.empty()) {
        axisUnits_.push_back(DefaultUnits(Channel::Ad0));
        names.emplace_back();
    }
    for (const auto& shown : shown_)
        for (std::size_t c = 0; c < 2; ++c) {
            const QString unit = ViewUnits(*shown->trace, kAnalog[c]).channel.unit;
            std::size_t k = 0;
            while (k + 1 < axisUnits_.size() && axisUnits_[k].channel.unit != unit)
                ++k;
            shown->axis[c] = k;
            QCPAxis* axis = ValueAxis(k);
            shown->volts[c]->setValueAxis(axis);
            for (const auto& overlap : shown->overlaps)
                overlap[c]->setValueAxis(axis);
        }
    for (std::size_t k = 0; k < std::max(valueAxes_.size(), axisUnits_.size()); ++k) {
        QCPAxis* axis = ValueAxis(k);
        axis->setVisible(k < axisUnits_.size());
        if (k >= axisUnits_.size())
            continue;
        const QString& unit = axisUnits_[k].channel.unit;
        axis->setLabel(unit == QLatin1String("V") ? tr("電圧 (V)")
                       : unit.isEmpty()           ? names[k].join(QStringLiteral(", "))
                                        : names[k].join(QStringLiteral(", ")) + QStringLiteral(" (") + unit +
                                              QLatin1Char(')'));
    }
}

void TrendWindow::ScaleVolts() {
    if (!autoScale_)
        return;
    const auto [from, to] = TimeRange();
    std::vector<std::pair<double, double>> ranges(axisUnits_.size(), {INFINITY, -INFINITY});
    std::vector<double> steps(axisUnits_.size(), 0);
    for (const auto& shown : shown_) {
        const Trace& t = *shown->trace;
        for (const Grid& rows : GridsOf(t, {keys_, from, to, 1})) {
            // With the rows just outside, which the lines run to.
            const std::size_t first = rows.first > rows.segment.begin ? rows.first - 1 : rows.segment.begin;
            const std::size_t last = std::min(rows.last + 1, rows.segment.end);
            for (std::size_t c = 0; c < 2; ++c) {
                const VoltsExtent e = t.Volts(kAnalog[c], first, last);
                if (!e.Any())
                    continue;
                const Units units = ViewUnits(t, kAnalog[c]);
                const double a = units.ValueOf(e.min), b = units.ValueOf(e.max);
                auto& range = ranges[shown->axis[c]];
                range = {std::min({range.first, a, b}), std::max({range.second, a, b})};
                steps[shown->axis[c]] =
                    std::max(steps[shown->axis[c]], std::abs(units.channel.scale.Slope()));
            }
        }
    }
    for (std::size_t k = 0; k < axisUnits_.size(); ++k) {
        auto [low, high] = ranges[k];
        if (!(low <= high)) {
            // Nothing in view: 0 V to 6 V in the axis' unit.
            const Units& units = axisUnits_[k];
            low = std::min(units.ValueOf(0), units.ValueOf(600));
            high = std::max(units.ValueOf(0), units.ValueOf(600));
            valueAxes_[k]->setRange(low, high);
            continue;
        }
        // A twentieth of the range above and below, and at least five hundredths of a volt.
        const double pad = std::max((high - low) * 0.05, 0.05 * steps[k]);
        valueAxes_[k]->setRange(low - pad, high + pad);
    }
}

void TrendWindow::SetShowVolts(bool on) {
    showVolts_ = on;
    voltsButton_->setChecked(on);
    if (readOutKeyS_)
        UpdateReadOut(*readOutKeyS_);
    SetAutoScale(true); // the values' ranges are not the volts'
}

void TrendWindow::TimeAxisLabels() {
    const auto [from, to] = TimeRange();
    const double width = to - from;
    if (keys_ == Trace::Keys::Elapsed) {
        secondsTicker_->SetPrecision(width < 10 ? 3 : width < 100 ? 1 : 0);
        secondsTicker_->SetDays(width >= 86400);
        timeOfLevels_->setLabel(tr("START からの秒数"));
        return;
    }
    // The clock of the first trace's record, so the axis reads as its time column does.
    int offset = QDateTime::currentDateTime().offsetFromUtc() / 60;
    for (const auto& shown : shown_)
        if (!shown->trace->Empty()) {
            offset = shown->trace->At(0).offsetMinutes;
            break;
        }
    if (offset != tickerOffsetMinutes_) {
        tickerOffsetMinutes_ = offset;
        clockTicker_->SetZone(QTimeZone(offset * 60));
    }
    clockTicker_->SetTimeFormat(width < 5           ? QStringLiteral("HH:mm:ss.zzz")
                                : width < 3 * 86400 ? QStringLiteral("HH:mm:ss")
                                                    : QStringLiteral("HH:mm"));
    timeOfLevels_->setLabel(QString());
}

std::optional<std::pair<const TrendWindow::Shown*, std::size_t>> TrendWindow::Nearest(double keyS) const {
    std::optional<std::pair<const Shown*, std::size_t>> best;
    double bestDistance = 0;
    for (const auto& shown : shown_) {
        const auto row = NearestRow(*shown->trace, keys_, keyS);
        if (!row)
            continue;
        const double distance = std::abs(KeySeconds(*shown->trace, keys_, *row) - keyS);
        if (!best || distance < bestDistance) {
            best = std::pair{shown.get(), *row};
            bestDistance = distance;
        }
    }
    return best;
}

void TrendWindow::UpdateReadOut(double keyS) {
    readOutKeyS_ = keyS;
    const auto nearest = Nearest(keyS);
    if (!nearest) {
        readOut_->clear();
        return;
    }
    const Trace& t = *nearest->first->trace;
    const Row row = t.At(nearest->second);
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(row.timeMs, QTimeZone(row.offsetMinutes * 60));
    QString text = time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) + QStringLiteral("   ") +
                   tr("%1 秒").arg(double(row.elapsedMs) / 1000.0, 0, 'f', 3);
    for (const Channel c : kAnalog) {
        const Units units = ViewUnits(t, c);
        text += QStringLiteral("   %1 %2")
                    .arg(NameOf(units, c), ValueText(units, c == Channel::Ad0 ? row.ad0 : row.ad1));
    }
    if (row.levels != kNoLevels)
        text += QStringLiteral("   HH %1  HL %2  LH %3  LL %4")
                    .arg((row.levels >> 3) & 1)
                    .arg((row.levels >> 2) & 1)
                    .arg((row.levels >> 1) & 1)
                    .arg(row.levels & 1);
    switch (row.note) {
    case acquisition::SampleNote::None:
        break;
    case acquisition::SampleNote::NoFrame:
        text += QStringLiteral("   ") + tr("フレームなし");
        break;
    default:
        for (int e = 0; e < 3; ++e)
            if (row.note == kEventNotes[e])
                text += QStringLiteral("   ") + tr(kEventNames[e]);
    }
    if (!t.Name().isEmpty())
        text += QStringLiteral("   (") + t.Name() + QLatin1Char(')');
    readOut_->setText(text);
}

void TrendWindow::SetCursor(int which, double keyS) {
    const auto nearest = Nearest(keyS);
    if (!nearest)
        return;
    cursors_[std::size_t(which)].keyS = KeySeconds(*nearest->first->trace, keys_, nearest->second);
    UpdateCursorItems();
    Redraw();
}

void TrendWindow::ClearCursors() {
    for (auto& cursor : cursors_)
        cursor.keyS.reset();
    UpdateCursorItems();
    Redraw();
}

void TrendWindow::UpdateCursorItems() {
    for (auto& cursor : cursors_)
        for (QCPItemStraightLine* line : cursor.lines) {
            line->setVisible(cursor.keyS.has_value());
            if (cursor.keyS) {
                line->point1->setCoords(*cursor.keyS, 0);
                line->point2->setCoords(*cursor.keyS, 1);
            }
        }
    UpdateStatistics();
    if (!cursors_[0].keyS && !cursors_[1].keyS) {
        cursorOut_->setText(tr("クリックでカーソル A、Ctrl+クリックでカーソル B"));
        return;
    }
    QStringList parts;
    std::optional<Row> at[2];
    const Trace* of[2] = {};
    for (int i = 0; i < 2; ++i) {
        if (!cursors_[std::size_t(i)].keyS)
            continue;
        if (const auto nearest = Nearest(*cursors_[std::size_t(i)].keyS)) {
            of[i] = nearest->first->trace.get();
            at[i] = of[i]->At(nearest->second);
        }
    }
    const auto volts = [](const Row& row, Channel c) { return c == Channel::Ad0 ? row.ad0 : row.ad1; };
    if (at[0] && at[1]) {
        parts << QStringLiteral("Δt %1 s").arg(double(at[1]->timeMs - at[0]->timeMs) / 1000.0, 0, 'f', 3);
        for (const Channel c : kAnalog) {
            const std::int16_t a = volts(*at[0], c), b = volts(*at[1], c);
            // B less A, each in its own trace's unit; none between two units.
            const Units ua = ViewUnits(*of[0], c), ub = ViewUnits(*of[1], c);
            parts << QStringLiteral("Δ%1 %2").arg(
                NameOf(ub, c), a == kNoVolts || b == kNoVolts || ua.channel.unit != ub.channel.unit
                                   ? QStringLiteral("—")
                                   : ub.WithUnit(ub.ValueOf(b) - ua.ValueOf(a)));
        }
    } else {
        for (int i = 0; i < 2; ++i)
            if (at[i]) {
                QStringList values;
                for (const Channel c : kAnalog) {
                    const Units units = ViewUnits(*of[i], c);
                    values << NameOf(units, c) + QLatin1Char(' ') + ValueText(units, volts(*at[i], c));
                }
                parts << (i == 0 ? QStringLiteral("A: ") : QStringLiteral("B: ")) +
                             values.join(QStringLiteral("  "));
            }
    }
    cursorOut_->setText(parts.join(QStringLiteral("   ")));
}

QString TrendWindow::ReadOut() const {
    return readOut_->text();
}

QString TrendWindow::CursorText() const {
    return cursorOut_->text();
}

QString TrendWindow::Statistics() {
    UpdateStatistics(); // of the view as it is, also before the table has caught up with a replot
    QStringList lines;
    QStringList cells;
    for (int c = 0; c < stats_->columnCount(); ++c)
        cells << stats_->horizontalHeaderItem(c)->text();
    lines << cells.join(QLatin1Char('\t'));
    for (int r = 0; r < stats_->rowCount(); ++r) {
        cells.clear();
        for (int c = 0; c < stats_->columnCount(); ++c)
            cells << (stats_->item(r, c) ? stats_->item(r, c)->text() : QString());
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n'));
}

void TrendWindow::UpdateStatistics() {
    struct Line {
        QString name;
        ChannelStats stats;
        int decimals;
    };
    // The rows a redraw changes nothing of are not summed again (a week is millions of them).
    const auto [from, to] = TimeRange();
    QList<double> key{from,
                      to,
                      cursors_[0].keyS.value_or(-1),
                      cursors_[1].keyS.value_or(-1),
                      double(channelOn_[0]),
                      double(channelOn_[1]),
                      double(keys_ == Trace::Keys::Elapsed),
                      double(showVolts_)};
    for (const auto& shown : shown_)
        key << double(reinterpret_cast<std::uintptr_t>(shown->trace.get())) << double(shown->trace->Size());
    if (key == statsKey_)
        return;
    statsKey_ = key;
    std::vector<Line> lines;
    const auto add = [&](const QString& range, double fromS, double toS) {
        for (const auto& shown : shown_) {
            const Trace& t = *shown->trace;
            const RowRanges rows = RowsIn(t, keys_, fromS, toS);
            const QString suffix = t.Name().isEmpty() ? QString() : QStringLiteral(" — ") + t.Name();
            for (std::size_t c = 0; c < 2; ++c)
                if (channelOn_[c]) {
                    // Named, and in a unit other than volts said so.
                    const Units units = ViewUnits(t, kAnalog[c]);
                    const QString unit =
                        units.channel.unit == QLatin1String("V") || units.channel.unit.isEmpty()
                            ? QString()
                            : QStringLiteral(" (") + units.channel.unit + QLatin1Char(')');
                    lines.push_back({NameOf(units, kAnalog[c]) + unit + range + suffix,
                                     InUnits(StatsOf(t, kAnalog[c], rows), units), units.decimals + 1});
                }
        }
    };
    add(QString(), from, to);
    if (cursors_[0].keyS && cursors_[1].keyS)
        add(QStringLiteral(" A–B"), std::min(*cursors_[0].keyS, *cursors_[1].keyS),
            std::max(*cursors_[0].keyS, *cursors_[1].keyS));
    stats_->setRowCount(int(lines.size()));
    for (int r = 0; r < int(lines.size()); ++r) {
        const ChannelStats& s = lines[std::size_t(r)].stats;
        // A decimal more than the values have.
        const auto volts = [&](double v) { return QString::number(v, 'f', lines[std::size_t(r)].decimals); };
        const QStringList cells =
            s.samples == 0
                ? QStringList{lines[std::size_t(r)].name, QStringLiteral("0"), {}, {}, {}, {}, {}}
                : QStringList{lines[std::size_t(r)].name, QString::number(s.samples), volts(s.min), volts(s.max),
                              volts(s.mean), volts(s.rms), volts(s.stddev)};
        for (int c = 0; c < cells.size(); ++c) {
            auto* item = new QTableWidgetItem(cells[c]);
            if (c > 0)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            stats_->setItem(r, c, item);
        }
    }
    stats_->setVisible(!lines.empty());
}

QString TrendWindow::Messages() const {
    return messages_->text();
}

void TrendWindow::ShowMessages(const QStringList& messages) {
    messages_->setText(messages.join(QLatin1Char('\n')));
    messages_->setVisible(!messages.isEmpty());
}

void TrendWindow::OpenRecords(const QStringList& paths) {
    readingName_->setText(
        tr("記録を読んでいます: %1").arg(paths.isEmpty() ? QString() : QFileInfo(paths.first()).fileName()));
    readingBar_->setValue(0);
    reading_->show();
    openButton_->setEnabled(false);
    loader_->Start(paths);
}

void TrendWindow::CancelReading() {
    loader_->Cancel();
    reading_->hide();
}

bool TrendWindow::Reading() const {
    return loader_->Busy();
}

void TrendWindow::ShowRead(bool cancelled) {
    reading_->hide();
    openButton_->setEnabled(true);
    if (cancelled) {
        emit RecordsRead({});
        return;
    }
    ShowRecords(loader_->TakeReads());
}

void TrendWindow::ShowRecords(std::vector<RecordRead> reads) {
    QStringList problems;
    std::optional<std::pair<double, double>> opened;
    bool growing = false;
    for (RecordRead& read : reads) {
        if (!read.problem.isEmpty())
            problems << read.problem;
        if (!read.trace)
            continue;
        const std::shared_ptr<Trace> t(std::move(read.trace));
        if (!t->Empty()) {
            const auto [firstMs, lastMs] = t->KeyRangeMs(keys_);
            const double first = double(firstMs) / 1000.0, last = double(lastMs) / 1000.0;
            opened = opened ? std::pair{std::min(opened->first, first), std::max(opened->second, last)}
                            : std::pair{first, last};
        }
        Shown& shown = AddShown(t);
        if (read.growing) {
            shown.tail = std::make_unique<RecordTail>(read.path, *read.growing, *t);
            growing = true;
        }
    }
    ShowMessages(problems);
    if (growing) {
        // A record still being written is followed as it grows, over the span chosen.
        growth_->start();
        SetFollowing(true);
        SetAutoScale(true);
    } else if (opened) {
        // A record opens showing its whole run.
        SetFollowing(false);
        const double margin = std::max((opened->second - opened->first) * 0.01, 0.5);
        ApplyTimeRange(opened->first - margin, opened->second + margin);
        SetAutoScale(true);
    }
    Redraw();
    emit RecordsRead(problems);
}

void TrendWindow::CloseRecords() {
    for (std::size_t i = shown_.size(); i-- > 0;)
        if (!shown_[i]->live)
            RemoveShown(i);
    ClearCursors();
    ShowMessages({});
    Redraw();
}

void TrendWindow::AskOpen() {
    if (Reading())
        return; // one read at a time: Cancel ends it
    const QStringList paths =
        dialogs_.openRecords
            ? dialogs_.openRecords(this)
            : QFileDialog::getOpenFileNames(this, tr("記録を開く"), QString(),
                                            tr("記録ファイル (*.csv);;すべてのファイル (*)"));
    if (!paths.isEmpty())
        OpenRecords(paths);
}

void TrendWindow::AskSave(int kind) {
    static const char* const kFilters[] = {"PNG (*.png)", "PDF (*.pdf)", "SVG (*.svg)", "CSV (*.csv)"};
    static const char* const kSuffixes[] = {"png", "pdf", "svg", "csv"};
    const QString filter = QString::fromLatin1(kFilters[kind]);
    // The dialog does not ask about a file already there: the name it checked may not be the one
    // written, which has its suffix added below.
    QString path = dialogs_.saveAs ? dialogs_.saveAs(this, filter)
                                   : QFileDialog::getSaveFileName(this, tr("書き出し"), QString(), filter,
                                                                  nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + QString::fromLatin1(kSuffixes[kind]);
    QStringList written{path};
    if (kind == kCsv)
        written << StatsPath(path);
    const auto say = [this](const QString& why) {
        ShowMessages({why});
        emit Said({why});
    };
    // A run's record still being written is refused before anything is asked.
    if (auto live = NoLiveRecordAmong(written); !live) {
        say(live.Reason());
        return;
    }
    QStringList there;
    for (const QString& file : written)
        if (QFileInfo(file).exists() || QFileInfo(file).isSymLink())
            there << QFileInfo(file).fileName();
    if (!there.isEmpty() && !(dialogs_.replace ? dialogs_.replace(this, there) : AskReplace(there)))
        return;
    const report::Done saved = kind == kCsv ? SaveSlice(path) : SavePicture(path);
    if (saved)
        ShowMessages({});
    else
        say(saved.Reason());
}

bool TrendWindow::AskReplace(const QStringList& names) {
    return QMessageBox::question(
               this, tr("書き出し"),
               tr("すでにあります: %1\n置き換えますか?").arg(names.join(QStringLiteral(", "))),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

report::Done TrendWindow::SavePicture(const QString& path) {
    // The picture carries what the window says around the plot: what is shown, over which range, and
    // the cursors.
    const auto [from, to] = TimeRange();
    const auto keyText = [this](double keyS) {
        if (keys_ == Trace::Keys::Elapsed)
            return tr("%1 秒").arg(keyS, 0, 'f', 3);
        const int offset = tickerOffsetMinutes_ == INT_MIN ? 0 : tickerOffsetMinutes_;
        return QDateTime::fromMSecsSinceEpoch(std::llround(keyS * 1000), QTimeZone(offset * 60))
            .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    };
    QStringList lines{windowTitle(), keyText(from) + QStringLiteral(" – ") + keyText(to)};
    if (cursors_[0].keyS || cursors_[1].keyS)
        lines << CursorText();
    auto* title = new QCPTextElement(plot_, lines.join(QLatin1Char('\n')), font());
    plot_->plotLayout()->insertRow(0);
    plot_->plotLayout()->addElement(0, 0, title);
    plot_->plotLayout()->setRowStretchFactor(0, 0.001);
    plot_->replot(QCustomPlot::rpImmediateRefresh);
    const report::Done saved = trend::SavePicture(*plot_, path);
    plot_->plotLayout()->remove(title);
    plot_->plotLayout()->simplify();
    Redraw();
    return saved;
}

report::Done TrendWindow::SaveSlice(const QString& path) {
    const auto [from, to] = TimeRange();
    for (std::size_t i = shown_.size(); i-- > 0;) {
        const Trace& t = *shown_[i]->trace;
        if (!RowsIn(t, keys_, from, to).empty())
            return trend::SaveSlice(t, keys_, from, to, path, showVolts_);
    }
    return report::Fail(tr("表示している範囲にサンプルがありません"));
}

void TrendWindow::ZoomTime(double factor, double centreS) {
    const auto [from, to] = TimeRange();
    SetTimeRange(centreS + (from - centreS) * factor, centreS + (to - centreS) * factor);
}

void TrendWindow::MousePress(QMouseEvent* event) {
    pressAt_ = event->position().toPoint();
    std::tie(pressFromS_, pressToS_) = TimeRange();
    moved_ = false;
    const bool box = event->button() == Qt::RightButton ||
                     (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
    if (box) {
        drag_ = Drag::Box;
        band_->setGeometry(QRect(pressAt_, QSize()));
        band_->show();
    } else if (event->button() == Qt::LeftButton) {
        drag_ = Drag::Pan;
    }
}

void TrendWindow::MouseMove(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (drag_ == Drag::None || !(event->buttons() & (Qt::LeftButton | Qt::RightButton))) {
        UpdateReadOut(timeOfVolts_->pixelToCoord(at.x()));
        return;
    }
    moved_ = moved_ || (at - pressAt_).manhattanLength() > kClickSlop;
    if (drag_ == Drag::Box) {
        band_->setGeometry(QRect(pressAt_, at).normalized());
    } else if (moved_) {
        const double shift = timeOfVolts_->pixelToCoord(pressAt_.x()) - timeOfVolts_->pixelToCoord(at.x());
        SetTimeRange(pressFromS_ + shift, pressToS_ + shift);
    }
}

void TrendWindow::MouseRelease(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (drag_ == Drag::Box) {
        band_->hide();
        const QRect box = QRect(pressAt_, at).normalized();
        if (box.width() > kClickSlop) {
            if (voltsRect_->rect().contains(box.center()) && box.height() > kClickSlop) {
                SetAutoScale(false);
                for (QCPAxis* axis : valueAxes_)
                    if (axis->visible())
                        axis->setRange(axis->pixelToCoord(box.bottom()), axis->pixelToCoord(box.top()));
            }
            SetTimeRange(timeOfVolts_->pixelToCoord(box.left()), timeOfVolts_->pixelToCoord(box.right()));
        }
    } else if (drag_ == Drag::Pan && !moved_) {
        for (std::size_t i = 0; i < cursors_.size(); ++i)
            cursorsBeforeClick_[i] = cursors_[i].keyS;
        SetCursor((event->modifiers() & Qt::ControlModifier) ? 1 : 0, timeOfVolts_->pixelToCoord(at.x()));
    }
    drag_ = Drag::None;
}

void TrendWindow::MouseWheel(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0)
        return;
    const double factor = std::pow(kWheelZoom, steps);
    const QPointF at = event->position();
    if (event->modifiers() & Qt::ControlModifier) {
        SetAutoScale(false);
        for (QCPAxis* axis : valueAxes_)
            if (axis->visible())
                axis->scaleRange(factor, axis->pixelToCoord(at.y()));
        Redraw();
    } else {
        ZoomTime(factor, timeOfVolts_->pixelToCoord(at.x()));
    }
}

} // namespace trend
