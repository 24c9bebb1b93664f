#ifndef RQ_TREND_PRUBEH_H
#define RQ_TREND_PRUBEH_H

#include "live/LiveDialog.h"
#include "trend/Cyklus.h"
#include "trend/Graf.h"
#include "trend/Historie.h"
#include "trend/Zaznam.h"

#include <QList>
#include <QPointF>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

// "Průběh hodnot": the analog monitor's thirteen values as lines of a live
// chart over a chosen time window, their minimum, maximum and mean over what
// the chart shows, the digital inputs that change as traces below it with a
// list of their changes, a CSV record of every cycle and a picture of the
// chart. A cycle is the analog monitor's, then one read of the digital
// inputs, one transaction per timer tick: the window's own dialogs (the file
// choosers, the questions) never stop the reading. Pausing freezes the chart
// and the statistics; reading and recording go on.
class TFormPrubeh : public TLiveDialog
{
    Q_OBJECT
public:
    explicit TFormPrubeh(QWidget *parent = nullptr);
    ~TFormPrubeh() override;

    static constexpr int ValueCount = TrendSample::ValueCount;
    static constexpr int RefreshPeriod = 500; // ms between chart redraws
    static constexpr int CyclePause = 10;     // ms between the end of a cycle and the next
    static constexpr int ChangeRows = 200;    // rows of the "Změny" list
    enum Window { Minute, TenMinutes, Hour, All };
    static qint64 windowLength(int window); // ms; 0 for All

    TTrendChart *Chart1 = nullptr;
    std::array<QCheckBox *, ValueCount> CheckBox{}; // CheckBox0..CheckBox12: which lines are drawn
    std::array<QLabel *, ValueCount> Hodnota{};     // the last complete cycle's values
    std::array<QLabel *, ValueCount> Minimum{};
    std::array<QLabel *, ValueCount> Maximum{};
    std::array<QLabel *, ValueCount> Prumer{};
    QComboBox *ComboBox1 = nullptr;   // window: "1 min", "10 min", "1 h", "vše"
    QPushButton *Button2 = nullptr;   // "Pozastavit" / "Pokračovat"
    QPushButton *Button3 = nullptr;   // "Záznam do souboru" / "Ukončit záznam"
    QPushButton *Button4 = nullptr;   // "Uložit obrázek…"
    QPushButton *Button5 = nullptr;   // "Živě": back to the newest data
    QListWidget *ListDin = nullptr;   // digital inputs always drawn (ticked)
    QListWidget *ListZmeny = nullptr; // "Změny": the digital inputs' changes in view
    QLabel *LabelJednotky = nullptr;  // what changed when the module's units changed
    QTimer *Timer2 = nullptr;         // chart redraw
    // The side panel (the table of lines, the digital inputs) folds away
    // when the window is too small for it beside the chart; the chart then
    // shows its legend.
    bool sidePanelShown() const;

    // Seams: the clock (ms since 1970), the file chooser (the chosen path,
    // empty when cancelled; the proposed name's suffix tells CSV from a
    // picture) and the question before replacing a file (true for "Ano").
    // Replaced by tests and benchmarks.
    static inline std::function<qint64()> clock;
    static inline std::function<QString(QWidget *parent, const QString &proposed)> chooseFile;
    static inline std::function<bool(QWidget *parent, const QString &question)> ask;

    TrendHistory &history() { return m_history; }
    const TrendCycle &trendCycle() const { return m_cycle; }
    const TrendRecorder &recorder() const { return m_recorder; }
    bool paused() const { return m_paused; }
    quint64 completedCycles() const { return m_completed; }
    // The drawn line of a channel, one list of (ms, value) per unbroken piece.
    QList<QList<QPointF>> segments(int channel) const { return Chart1->segments(channel); }
    // The caption of a saved picture: module, address, time range.
    QString caption() const;
    // "Modul změnil jednotky: Vstup 3 V → ohm, …"; empty when none changed.
    static QString unitChangeText(const std::array<QString, ValueCount> &before,
                                  const std::array<QString, ValueCount> &after);

public slots:
    void Timer1Timer() override; // one transaction of the cycle
    // Closing while recording asks first ("Ne" keeps the window and the record).
    void done(int result) override;
    void Button2Click(); // "Pozastavit" / "Pokračovat"
    void Button3Click(); // "Záznam do souboru" / "Ukončit záznam"
    void Button4Click(); // "Uložit obrázek…"
    void Button5Click(); // "Živě"
    void Timer2Timer();  // redraws the chart and the statistics
    void ComboBox1Change();
    void CheckBoxClick();
    void ListDinChange();
    void ChartViewChange();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    qint64 now() const;
    void cycleDone(const TrendSample &s, quint8 error);
    void refresh();
    void statistics();
    void stopRecording(const QString &status);
    void fitSidePanel();
    QString recordEndText() const;
    QString askPath(const QString &proposed, const QString &title, const QString &filter);

    TrendCycle m_cycle;
    TrendHistory m_history;
    TrendRecorder m_recorder;
    std::array<quint8, ValueCount> m_decimals{};
    QList<TrendChange> m_listed; // what "Změny" shows
    QLabel *m_recordPanel = nullptr;
    QWidget *m_side = nullptr;
    QWidget *m_controls = nullptr;
    std::array<QString, ValueCount> m_units{}; // of the last sample that knew them
    bool m_unitsKnown = false;
    bool m_asking = false; // the question before closing is open
    bool m_paused = false;
    qint64 m_pausedAt = 0;
    quint64 m_completed = 0;
};

#endif
