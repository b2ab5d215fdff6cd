// The trend window: the whole run on a time axis beside the main form. AD0 and
// AD1 above, each in its channel's unit (an axis a unit: left, and right when
// the units differ; or all in volts, as read, at the Volts toggle), the time a
// channel spent outside its limits shaded in its colour behind the lines; the
// four digital lines as steps below, sharing the time axis (clock time, or
// seconds since START); the run going on, fed sample by sample through its sink
// and followed as it grows, and any run records opened. The run going on shows
// the run's names of the channels; a record opened shows AD0 and AD1.
//
// Mouse and keys: the wheel zooms time around the pointer, Ctrl+wheel the values;
// a drag pans; a right-drag or Shift+drag zooms to its box; Home or a double
// click fits the whole run; End follows the newest samples again. A click puts
// cursor A at the nearest sample, Ctrl+click cursor B; Esc takes them away.
//
// Every redraw asks the traces for what its width of pixel columns shows, so a
// week redraws as fast as a minute. While hidden the window draws nothing.
#pragma once

#include "report/failure.h"

#include "chart/tcolor.h"
#include "trend/trace.h"

#include <QSharedPointer>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCPAxis;
class QCPAxisRect;
class QCPAxisTicker;
class QCPAxisTickerDateTime;
class QCPGraph;
class QCPItemStraightLine;
class QAction;
class QCheckBox;
class QComboBox;
class QTableWidget;
class QCustomPlot;
class QLabel;
class QMouseEvent;
class QRubberBand;
class QTimer;
class QProgressBar;
class QPushButton;
class QWheelEvent;

namespace trend {

class ClockTicker;   // the clock axis: the date on the first label and wherever a day begins
class ElapsedTicker; // seconds since START; from a day on, d h:mm:ss

class RecordLoader;
class TrendSink;
struct RecordRead;

// The window's file dialogs; tests answer them.
struct TrendDialogs {
    // The records to open; none when cancelled.
    std::function<QStringList(QWidget* parent)> openRecords;
    // Where to save, for a filter such as "PNG (*.png)"; empty when cancelled. The dialog asks
    // nothing about a file already there: the name is asked about once its suffix is added.
    std::function<QString(QWidget* parent, const QString& filter)> saveAs;
    // Whether to replace the files named (their names without folders), which exist already.
    std::function<bool(QWidget* parent, const QStringList& names)> replace;
};

// The spans Follow keeps in view, in seconds; 0 is the whole run.
inline constexpr std::array<int, 4> kFollowSpans = {60, 600, 3600, 0};

class TrendWindow : public QWidget {
    Q_OBJECT

public:
    // With `live`, the run going on is shown and followed; without, only the records opened.
    explicit TrendWindow(TrendSink* live = nullptr, TrendDialogs dialogs = {}, QWidget* parent = nullptr);
    ~TrendWindow() override;

    // The channels' colours and whether each is on (a channel switched off is drawn grey).
    void SetChannels(TColor ad0, TColor ad1, bool ad0On, bool ad1On);

    // Starts opening run records beside those open: they are read off this thread, the window showing
    // how far with a Cancel button, and shown whole once read; RecordsRead follows. A read going on
    // is cancelled first.
    void OpenRecords(const QStringList& paths);
    // Shows records already read (ReadRecord), as OpenRecords does once its read is over.
    void ShowRecords(std::vector<RecordRead> reads);
    // Stops the read going on: nothing of it is shown.
    void CancelReading();
    bool Reading() const;
    // Takes the records away; the run going on stays.
    void CloseRecords();

    // Follow: the newest samples stay in view over the span (seconds, 0: all), those of the run going
    // on, or, without one, of the newest record opened while another process was still writing it.
    int FollowSpan() const { return followSpan_; }
    void SetFollowSpan(int seconds);
    bool Following() const;
    void SetFollowing(bool on);

    // Clock time or seconds since START on the time axis.
    void SetElapsedAxis(bool elapsed);

    // The time range on show, in seconds on the axis; setting it is a pan or zoom (Follow goes off).
    std::pair<double, double> TimeRange() const;
    void SetTimeRange(double fromS, double toS);
    // The whole of every trace, volts scaled to fit (Home).
    void FitAll();
    bool AutoScale() const { return autoScale_; }
    void SetAutoScale(bool on);
    // The readings in volts, as read, rather than in their channels' units (the values scaled anew).
    bool ShowsVolts() const { return showVolts_; }
    void SetShowVolts(bool on);

    // Cursor 0 (A) or 1 (B) at the sample nearest keyS.
    void SetCursor(int which, double keyS);
    void ClearCursors();

    // The read-out of the sample under the pointer, the cursors' differences, the messages shown.
    QString ReadOut() const;
    QString CursorText() const;
    // The statistics table as text, a line a row and its cells by tabs (as Copy puts it on the
    // clipboard): for each channel on of each trace shown, over the visible rows, and between the
    // cursors when both are set.
    QString Statistics();
    QString Messages() const;

    // The view as PNG, PDF or SVG by the name's suffix; the visible rows of the newest trace in view
    // as a record. Why not, or nothing.
    report::Done SavePicture(const QString& path);
    report::Done SaveSlice(const QString& path);

    // Reads on each record opened while it was still being written (every half second while one is):
    // its new rows are shown, and what ends the following is said.
    void ReadGrowth();
    // Whether a record opened is still followed as it grows.
    bool Growing() const;

    QCustomPlot& Plot() const { return *plot_; }
    // The run going on (or last ended); null without one.
    const Trace* LiveTrace() const;
    // Shown, raised and made the active window.
    void ShowAndRaise();

signals:
    void FollowSpanChanged(int seconds);
    // A read of OpenRecords has ended: its records are shown, and what could not be read is said, one
    // message a file naming it and its first bad line (the rows that could be read are all shown). After a cancel,
    // nothing is shown or said.
    void RecordsRead(const QStringList& problems);
    // Said under the plot after the records were read: what ends a record's following, what a read
    // on it could not take, why an export failed.
    void Said(const QStringList& messages);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Shown;

    void BuildControls();
    void BuildPlot();
    Shown& AddShown(std::shared_ptr<const Trace> trace);
    // AD0's and AD1's graphs, then HH's, HL's, LH's and LL's.
    std::array<QCPGraph*, 6> AddLineGraphs();
    void RemoveShown(std::size_t index);
    // The title: the records shown and the run going on ("トレンド — a.csv, 現在の測定").
    void NameWindow();
    void UpdateStatistics();
    void StyleGraphs(Shown& shown);
    void LiveChanged(bool newTrace);
    // Before each replot lays the plot out: the ranges, the axes' formats and titles and the legend, so
    // that the ticks and margins are worked out from them. After the layout, Fill() puts in what each
    // trace shows at the width the layout gave.
    void Prepare();
    void Fill();
    void EventLegend();
    void FollowRange();
    // Each channel on the value axis of its unit, made the first time a unit wants it, and each axis
    // titled by its unit and the channels on it.
    void AssignAxes();
    QCPAxis* ValueAxis(std::size_t index);
    // A channel of a trace as the view shows it: in its unit, or in volts at the Volts toggle.
    Units ViewUnits(const Trace& trace, Channel channel) const;
    void ScaleVolts();
    void TimeAxisLabels();
    void ApplyTimeRange(double fromS, double toS);
    void Redraw();
    void ShowMessages(const QStringList& messages);
    void ShowRead(bool cancelled);
    void AskOpen();
    void AskSave(int kind);
    bool AskReplace(const QStringList& names);
    void UpdateCursorItems();
    void UpdateReadOut(double keyS);
    const Shown* LiveShown() const;
    // What Follow keeps in view: the run going on, else the newest record still growing.
    const Shown* Followed() const;
    std::optional<std::pair<const Shown*, std::size_t>> Nearest(double keyS) const;
    std::optional<std::pair<double, double>> KeysOfAll() const;

    void MousePress(QMouseEvent* event);
    void MouseMove(QMouseEvent* event);
    void MouseRelease(QMouseEvent* event);
    void MouseWheel(QWheelEvent* event);
    void ZoomTime(double factor, double centreS);

    TrendSink* live_;
    TrendDialogs dialogs_;
    std::unique_ptr<RecordLoader> loader_;
    std::vector<std::unique_ptr<Shown>> shown_;
    Trace::Keys keys_ = Trace::Keys::Clock;
    TColor colors_[2] = {clGreen, clOlive};
    bool channelOn_[2] = {true, true};
    int followSpan_ = 600;
    bool autoScale_ = true;
    bool showVolts_ = false;
    std::optional<double> readOutKeyS_; // where the read-out was last asked for
    int filledColumns_ = 0;
    bool liveDirty_ = false;

    struct Cursor {
        std::optional<double> keyS;
        std::array<QCPItemStraightLine*, 2> lines{}; // in the volts and the digital band
    };
    std::array<Cursor, 2> cursors_;
    std::array<std::optional<double>, 2> cursorsBeforeClick_;

    enum class Drag { None, Pan, Box };
    Drag drag_ = Drag::None;
    QPoint pressAt_;
    double pressFromS_ = 0, pressToS_ = 0;
    bool moved_ = false;

    QCustomPlot* plot_ = nullptr;
    QCPAxisRect* voltsRect_ = nullptr;
    QCPAxisRect* levelsRect_ = nullptr;
    QCPAxis* timeOfVolts_ = nullptr;
    QCPAxis* timeOfLevels_ = nullptr;
    QCPAxis* volts_ = nullptr;        // the first unit's, on the left
    std::vector<QCPAxis*> valueAxes_; // volts_, then those on the right
    std::vector<Units> axisUnits_;    // of each axis in use, as the last replot assigned them
    QCPAxis* lines_ = nullptr;
    QCPAxis* events_ = nullptr;
    QSharedPointer<ClockTicker> clockTicker_;
    QSharedPointer<ElapsedTicker> secondsTicker_;
    int tickerOffsetMinutes_ = INT_MIN;
    QRubberBand* band_ = nullptr;
    QTimer* liveRedraw_ = nullptr;
    QTimer* statsLater_ = nullptr; // the statistics table, after a replot
    QTimer* growth_ = nullptr; // reads on the records still being written

    QPushButton* openButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* exportButton_ = nullptr;
    QComboBox* axisBox_ = nullptr;
    QCheckBox* followBox_ = nullptr;
    QComboBox* spanBox_ = nullptr;
    QPushButton* fitButton_ = nullptr;
    QPushButton* autoButton_ = nullptr;
    QPushButton* voltsButton_ = nullptr;
    QLabel* readOut_ = nullptr;
    QLabel* cursorOut_ = nullptr;
    QTableWidget* stats_ = nullptr;
    QList<double> statsKey_; // what the table was worked out for
    QLabel* messages_ = nullptr;
    QWidget* reading_ = nullptr; // how far a read has come, with its Cancel button
    QLabel* readingName_ = nullptr;
    QProgressBar* readingBar_ = nullptr;
};

} // namespace trend
