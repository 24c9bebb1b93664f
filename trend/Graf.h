#ifndef RQ_TREND_GRAF_H
#define RQ_TREND_GRAF_H

#include "trend/Historie.h"

#include <QColor>
#include <QList>
#include <QPointF>
#include <QStringList>
#include <QWidget>

#include <array>
#include <vector>

// The chart of "Průběh hodnot", painted by hand so it costs only the points
// in view: each line is one polyline per unbroken piece over buckets of the
// history (minimum and maximum of each), broken where cycles failed or none
// came; one value axis per unit, on the left and right in turn, in the
// colour of its first line; failed stretches shaded under the lines; below
// the plot the digital inputs that changed in view or are ticked, each a
// lane with its name and current state, a band for 1 and a line for 0.
//
// The view follows the newest data (live) until the user looks closer: the
// wheel zooms the time around the pointer, dragging pans, dragging with the
// right button (or Ctrl) zooms into a rectangle; a double click or goLive()
// returns. A cursor under the pointer shows the time, the bucket width and
// each shown line's value, and the error of a failed stretch; it stays at
// the time the pointer chose (moving, zooming or panning chooses anew), so
// in a live view it moves left with the data and is hidden once that time
// has left the plot.
//
// A line whose unit changed (the module's range was set anew) is broken
// there, each piece drawn against the axis of its own unit.
//
// The same painting makes the saved picture (PNG or SVG), under a caption
// and above a legend that names each shown line with its unit and colour.
class TTrendChart : public QWidget
{
    Q_OBJECT
public:
    static constexpr int ValueCount = TrendSample::ValueCount;

    struct Channel
    {
        QString name;
        QString unit; // the newest; "°C" or "dílky" for the temperature; empty when unknown
        QColor colour;
        int decimals = 0;
        bool shown = true;
    };
    struct Axis
    {
        QString title; // the unit
        QColor colour; // of its first line
        bool left = true;
        int width = 0; // room for its labels and title
        double min = 0, max = 1;
        QList<double> ticks;
        QStringList labels; // of the ticks, in the user's locale
        QList<int> channels;
    };
    struct Lane
    {
        int input = 0;
        bool state = false; // the newest read
        QString label;      // "DIN3 = 1"
    };
    struct LegendEntry
    {
        QString text; // "Vstup 3 [V]", "Vstup 3 [V → ohm]" after a change in view
        QColor colour;
    };

    explicit TTrendChart(QWidget *parent = nullptr);

    void setHistory(const TrendHistory *history) { m_history = history; }
    // The internal temperature's (the last) in "°C" shares that axis, in
    // "dílky" (or unknown, empty) it gets an axis of its own.
    std::array<Channel, ValueCount> channels;
    quint32 tickedInputs = 0; // digital inputs always shown
    // The legend below the plot on the screen too (a window without its
    // table of lines).
    void setLegendShown(bool shown);
    bool legendShown() const { return m_screenLegend; }

    // Length of the live window (ms), 0 for everything recorded.
    void setWindow(qint64 length);
    // Newest time; a live view ends there. Recomputes the picture.
    void setNow(qint64 now);
    // Recomputes what is drawn from the history and the view.
    void rebuild();
    bool isLive() const { return m_live; }
    void goLive();
    qint64 from() const { return m_from; }
    qint64 to() const { return m_to; }
    qint64 bucketWidth() const { return m_width; }

    // Interaction, in widget pixels (also what the mouse does).
    void zoomAt(double x, double factor);
    void panBy(double dx);
    void zoomInto(const QRect &band);
    // Shows [from, to] and stops following the newest data.
    void showRange(qint64 from, qint64 to) { setView(from, to); }

    // What is drawn.
    const QList<Axis> &axes() const { return m_axes; }
    // The axis of the channel's newest piece (of its unit when none is in view).
    int axisOf(int channel) const { return m_axisOf[static_cast<std::size_t>(channel)]; }
    // The axis of each piece of segments(channel).
    QList<int> pieceAxes(int channel) const;
    const QStringList &timeLabels() const { return m_timeLabels; }
    QList<QList<QPointF>> segments(int channel) const; // (ms, value) per piece
    const QList<TrendBucket> &buckets() const { return m_buckets; }
    const QList<Lane> &lanes() const { return m_lanes; }
    int moreLanes() const { return m_moreLanes; }
    const QList<TrendFailure> &failures() const { return m_failures; }
    QRect plotRect() const { return m_plot; }
    double xOf(qint64 t) const;
    qint64 timeAt(double x) const;
    // The cursor box's lines at time t.
    QStringList cursorLines(qint64 t) const;
    // The cursor is drawn: the pointer chose a time and it is in the plot.
    bool cursorShown() const;
    qint64 cursorTime() const { return m_cursorTime; }
    // Each shown line of the picture's legend.
    QList<LegendEntry> legend() const;

    // The picture under a caption line, as the file format wants it: "png"
    // or "svg". Empty when it cannot be made.
    QByteArray image(const QString &format, const QString &caption) const;
    // Paints the chart into size, below the caption when one is given.
    void render(QPainter &p, const QSize &size, const QString &caption = {}) const;

    // A value as the axes write it: the locale's decimal mark, never "-0".
    static QString tickText(double value, int decimals);

signals:
    // The view was zoomed, panned or returned to live.
    void viewChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    struct Layout
    {
        QRect plot;
        QRect lanes;
        int leftWidth = 0;
    };
    Layout layoutFor(const QSize &size, int captionHeight) const;
    int legendHeight(int width) const;
    void paintLegend(QPainter &p, const QRect &area) const;
    void pointerAt(const QPointF &pos);
    QString unitIn(const TrendBucket &b, int channel) const;
    QString axisKey(int channel, const QString &unit, QString *title = nullptr) const;
    void computeAxes(int plotHeight);
    void computeTimeTicks();
    void computeLanes();
    void setView(qint64 from, qint64 to);
    void paintInto(QPainter &p, const Layout &l, bool withCursor) const;

    const TrendHistory *m_history = nullptr;
    qint64 m_window = 60'000;
    qint64 m_now = 0;
    bool m_live = true;
    qint64 m_from = 0;
    qint64 m_to = 60'000;
    double m_yLow = 0, m_yHigh = 1; // the shown part of each axis' own range, as fractions

    QList<TrendBucket> m_buckets;
    qint64 m_width = 100;
    QList<Axis> m_axes;
    std::array<int, ValueCount> m_axisOf{};
    std::array<std::vector<QList<QPointF>>, ValueCount> m_pieces;
    std::array<std::vector<int>, ValueCount> m_pieceAxes;
    QStringList m_axisKeys;
    QList<TrendFailure> m_failures;
    QList<Lane> m_lanes;
    int m_moreLanes = 0; // changed inputs without a lane (no room)
    QList<qint64> m_timeTicks;
    QStringList m_timeLabels;
    QRect m_plot;
    QRect m_laneRect;

    enum class Drag { None, Pan, Band };
    Drag m_drag = Drag::None;
    QPoint m_press;
    QPoint m_last;
    QRect m_band;
    bool m_screenLegend = false;
    bool m_cursor = false; // the pointer is over the plot
    qint64 m_cursorTime = 0;
    QPointF m_pointer;
};

#endif
