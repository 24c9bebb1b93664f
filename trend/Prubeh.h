#ifndef RQ_TREND_PRUBEH_H
#define RQ_TREND_PRUBEH_H

#include "live/AnalogCycle.h"
#include "live/LiveDialog.h"
#include "trend/Historie.h"
#include "trend/Zaznam.h"

#include <QList>
#include <QPointF>
#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;

// The 32 digital inputs over the chart's time span, one lane per input: a
// line high or low, a filled band where a bucket saw both, nothing where no
// read succeeded.
class TBitTraces : public QWidget
{
    Q_OBJECT
public:
    explicit TBitTraces(QWidget *parent = nullptr);

    static constexpr int LaneHeight = 10;

    // The buckets to draw over [from, to], which maps to the x pixels
    // [left, right] (the chart's plot area).
    void setTraces(const QList<TrendBucket> &buckets, qint64 from, qint64 to, int left, int right);
    const QList<TrendBucket> &buckets() const { return m_buckets; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<TrendBucket> m_buckets;
    qint64 m_from = 0;
    qint64 m_to = 1;
    int m_left = 0;
    int m_right = 1;
};

// "Průběh hodnot": the analog monitor's thirteen values as lines of a live
// chart over a chosen time window, their minimum, maximum and mean over the
// window, the digital inputs as bit traces below, and a CSV record of every
// cycle. A cycle is the analog monitor's, then one read of the digital
// inputs. Pausing freezes the chart and the statistics; reading and
// recording go on.
class TFormPrubeh : public TCycleDialog
{
    Q_OBJECT
public:
    explicit TFormPrubeh(QWidget *parent = nullptr);
    ~TFormPrubeh() override;

    static constexpr int ValueCount = AnalogReading::ValueCount;
    static constexpr int RefreshPeriod = 500; // ms between chart redraws
    enum Window { Minute, TenMinutes, Hour, All };
    static qint64 windowLength(int window); // ms; 0 for All

    QChartView *ChartView1 = nullptr;
    QChart *Chart1 = nullptr;
    TBitTraces *BitTraces1 = nullptr;
    std::array<QCheckBox *, ValueCount> CheckBox{}; // CheckBox0..CheckBox12: which lines are drawn
    std::array<QLabel *, ValueCount> Hodnota{};     // the last complete cycle's values
    std::array<QLabel *, ValueCount> Minimum{};
    std::array<QLabel *, ValueCount> Maximum{};
    std::array<QLabel *, ValueCount> Prumer{};
    QComboBox *ComboBox1 = nullptr;  // window: "1 min", "10 min", "1 h", "vše"
    QPushButton *Button2 = nullptr;  // "Pozastavit" / "Pokračovat"
    QPushButton *Button3 = nullptr;  // "Záznam do souboru" / "Ukončit záznam"
    QTimer *Timer2 = nullptr;        // chart redraw

    // Seams: the clock (ms since 1970), the file chooser (the chosen path,
    // empty when cancelled) and the question before replacing a file (true
    // for "Ano"). Replaced by tests and benchmarks.
    static inline std::function<qint64()> clock;
    static inline std::function<QString(QWidget *parent, const QString &proposed)> chooseFile;
    static inline std::function<bool(QWidget *parent, const QString &question)> ask;

    TrendHistory &history() { return m_history; }
    const TrendRecorder &recorder() const { return m_recorder; }
    bool paused() const { return m_paused; }
    quint64 completedCycles() const { return m_completed; }
    // The drawn line of a channel, one list of points per unbroken piece.
    QList<QList<QPointF>> segments(int channel) const;
    QValueAxis *valueAxis() const { return m_axisY; }       // the inputs
    QValueAxis *temperatureAxis() const { return m_axisT; } // the internal temperature
    QDateTimeAxis *timeAxis() const { return m_axisX; }

public slots:
    void Button2Click();  // "Pozastavit" / "Pokračovat"
    void Button3Click();  // "Záznam do souboru" / "Ukončit záznam"
    void Timer2Timer();   // redraws the chart and the statistics
    void ComboBox1Change();
    void CheckBoxClick();

protected:
    void cycle(const QPointer<TCycleDialog> &self) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    qint64 now() const;
    void refresh();
    void drawChannel(int channel, const QList<TrendBucket> &buckets);
    void addPiece(int channel); // one more series for a piece of the line
    void stopRecording(const QString &status);

    AnalogCycle m_cycle;
    TrendHistory m_history;
    TrendRecorder m_recorder;
    std::array<quint8, ValueCount> m_decimals{};
    std::array<QList<QLineSeries *>, ValueCount> m_series; // pieces of each line, reused
    std::array<int, ValueCount> m_used{};                  // pieces in use
    QDateTimeAxis *m_axisX = nullptr;
    QValueAxis *m_axisY = nullptr; // the inputs
    QValueAxis *m_axisT = nullptr; // the internal temperature
    QLabel *m_recordPanel = nullptr;
    bool m_paused = false;
    qint64 m_pausedAt = 0;
    quint64 m_completed = 0;
};

#endif
