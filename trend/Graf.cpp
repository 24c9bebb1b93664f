#include "trend/Graf.h"

#include "live/FixedPoint.h"

#include <QBuffer>
#include <QDateTime>
#include <QImage>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgGenerator>
#include <QWheelEvent>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {
constexpr int AxisWidth = 58;
constexpr int LaneHeight = 14;
const QColor Grid(0xe6, 0xe6, 0xe6);
const QColor FailShade(0xff, 0xd8, 0xd8);
const QColor LaneColour(0x20, 0x40, 0xa0);

// 1, 2 or 5 times a power of ten, about span / count.
double niceStep(double span, int count)
{
    const double raw = span / std::max(1, count);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / magnitude;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * magnitude;
}

// Start of the local-time slot of width step that holds t.
qint64 localFloor(qint64 t, qint64 step)
{
    const qint64 offset = qint64(QDateTime::fromMSecsSinceEpoch(t).offsetFromUtc()) * 1000;
    const qint64 local = t + offset;
    const qint64 q = local / step - (local % step < 0 ? 1 : 0);
    return q * step - offset;
}

QString durationText(qint64 ms)
{
    const QLocale locale;
    if (ms < 1000)
        return QStringLiteral("%1 ms").arg(ms);
    if (ms < 60'000)
        return locale.toString(double(ms) / 1000, 'g', 4) + QStringLiteral(" s");
    if (ms < 3'600'000)
        return ms % 60'000 ? QStringLiteral("%1 min %2 s").arg(ms / 60'000).arg(ms % 60'000 / 1000)
                           : QStringLiteral("%1 min").arg(ms / 60'000);
    return ms % 3'600'000 ? QStringLiteral("%1 h %2 min").arg(ms / 3'600'000).arg(ms % 3'600'000 / 60'000)
                          : QStringLiteral("%1 h").arg(ms / 3'600'000);
}

QString clockText(qint64 t)
{
    const QDateTime d = QDateTime::fromMSecsSinceEpoch(t);
    return d.toString(QStringLiteral("HH:mm:ss")) + QLocale().decimalPoint() +
           d.toString(QStringLiteral("zzz"));
}
} // namespace

TTrendChart::TTrendChart(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(420, 260);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_axisOf.fill(-1);
}

QString TTrendChart::tickText(double value, int decimals)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'f', std::clamp(decimals, 0, 15));
    // A value that rounds to zero is "0", never "-0".
    if (text.startsWith(locale.negativeSign())) {
        bool zero = true;
        for (const QChar c : text)
            if (c.isDigit() && c != u'0')
                zero = false;
        if (zero)
            text.remove(0, locale.negativeSign().size());
    }
    return text;
}

void TTrendChart::setWindow(qint64 length)
{
    m_window = std::max<qint64>(0, length);
}

void TTrendChart::setNow(qint64 now)
{
    m_now = now;
    rebuild();
}

void TTrendChart::goLive()
{
    m_live = true;
    m_yLow = 0;
    m_yHigh = 1;
    rebuild();
    emit viewChanged();
}

void TTrendChart::setView(qint64 from, qint64 to)
{
    m_live = false;
    m_from = from;
    m_to = std::max(from + 1, to);
    rebuild();
    emit viewChanged();
}

double TTrendChart::xOf(qint64 t) const
{
    return m_plot.left() + double(t - m_from) * m_plot.width() / double(std::max<qint64>(1, m_to - m_from));
}

qint64 TTrendChart::timeAt(double x) const
{
    return m_from +
           qint64(std::llround((x - m_plot.left()) * double(m_to - m_from) / std::max(1, m_plot.width())));
}

void TTrendChart::zoomAt(double x, double factor)
{
    const double span = double(m_to - m_from);
    // Between half a second and a year.
    const double wanted = std::clamp(span * factor, 500.0, 365.0 * 86'400'000);
    const qint64 t0 = timeAt(std::clamp(x, double(m_plot.left()), double(m_plot.right())));
    const qint64 from = t0 - qint64(std::llround(double(t0 - m_from) * wanted / span));
    setView(from, from + qint64(wanted));
}

void TTrendChart::panBy(double dx)
{
    const qint64 dt = qint64(std::llround(dx * double(m_to - m_from) / std::max(1, m_plot.width())));
    setView(m_from - dt, m_to - dt);
}

void TTrendChart::zoomInto(const QRect &band)
{
    const QRect b = band.normalized() & m_plot;
    if (b.width() < 4)
        return;
    if (b.height() >= 4 && b.height() < m_plot.height() - 2) {
        const double h = std::max(1, m_plot.height());
        const double low = double(m_plot.bottom() - b.bottom()) / h;
        const double high = double(m_plot.bottom() - b.top()) / h;
        const double span = m_yHigh - m_yLow;
        const double newLow = m_yLow + span * low;
        m_yHigh = m_yLow + span * high;
        m_yLow = newLow;
    }
    setView(timeAt(b.left()), timeAt(b.right()));
}

TTrendChart::Layout TTrendChart::layoutFor(const QSize &size, int captionHeight) const
{
    Layout l;
    int left = 0, right = 0;
    for (const Axis &a : m_axes)
        (a.left ? left : right) += a.width;
    const int labels =
        m_lanes.isEmpty() ? 0 : fontMetrics().horizontalAdvance(QStringLiteral("DIN31 = 1")) + 12;
    left = std::max({left, labels, 24});
    right = std::max(right, 12);
    const int timeRow = fontMetrics().height() + 6;
    const int lanes = m_lanes.isEmpty() ? 0 : int(m_lanes.size() + (m_moreLanes ? 1 : 0)) * LaneHeight + 6;
    const int top = captionHeight + 8;
    const int legend = m_screenLegend ? legendHeight(size.width()) : 0;
    const int plotHeight = std::max(60, size.height() - top - timeRow - lanes - legend - 4);
    l.plot = QRect(left, top, std::max(60, size.width() - left - right), plotHeight);
    l.lanes = QRect(left, l.plot.bottom() + 1 + timeRow, l.plot.width(), lanes);
    l.leftWidth = left;
    return l;
}

QString TTrendChart::unitIn(const TrendBucket &b, int channel) const
{
    const auto *units = m_history ? m_history->unitsOf(b.epoch) : nullptr;
    return units ? (*units)[static_cast<std::size_t>(channel)]
                 : channels[static_cast<std::size_t>(channel)].unit;
}

QString TTrendChart::axisKey(int channel, const QString &unit, QString *title) const
{
    QString key, name;
    if (channel < ValueCount - 1) {
        key = unit;
        name = unit.isEmpty() ? QStringLiteral("bez jednotky") : unit;
    } else if (unit == u"°C") {
        key = name = unit; // beside the inputs in °C
    } else {
        // Raw counts (or not known yet) are a scale of their own.
        key = QStringLiteral("#teplota");
        name = unit.isEmpty() ? QStringLiteral("Interní teplota")
                              : QStringLiteral("Interní teplota [%1]").arg(unit);
    }
    if (title)
        *title = name;
    return key;
}

void TTrendChart::rebuild()
{
    if (m_live) {
        m_to = m_now;
        m_from = m_window > 0
                     ? m_now - m_window
                     : (m_history && !m_history->isEmpty() ? m_history->firstTime() : m_now - 60'000);
        if (m_from >= m_to)
            m_from = m_to - 1000;
    }
    m_buckets.clear();
    m_failures.clear();
    m_width = 100;
    if (m_history) {
        // About one bucket per three pixels: drawn as its minimum and
        // maximum, every spike stays visible.
        const int plotWidth = m_plot.isValid() ? m_plot.width() : width() - 2 * AxisWidth;
        m_buckets = m_history->view(m_from, m_to, std::clamp(plotWidth / 3, 100, 600), &m_width);
        m_failures = m_history->failures(m_from, m_to);
    }
    computeLanes();
    // The plot's height does not depend on the axes, its width on their labels.
    computeAxes(layoutFor(size(), 0).plot.height());
    const Layout l = layoutFor(size(), 0);
    m_plot = l.plot;
    m_laneRect = l.lanes;
    computeTimeTicks();
    // Room for every number of the axes: the window may not get narrower.
    int axesWidth = 0;
    for (const Axis &a : m_axes)
        axesWidth += a.width;
    const int least = std::max(420, axesWidth + 24 + 200);
    if (minimumWidth() != least)
        setMinimumWidth(least);

    const qint64 join = m_history ? m_history->joinLimit(m_width) : 1000;
    for (int c = 0; c < ValueCount; ++c) {
        const auto k = static_cast<std::size_t>(c);
        auto &pieces = m_pieces[k];
        auto &pieceAxes = m_pieceAxes[k];
        pieces.clear();
        pieceAxes.clear();
        if (!channels[k].shown)
            continue;
        // A new piece at a gap and where the unit changes.
        bool broken = true;
        int axis = -1;
        qint64 previous = 0;
        bool have = false;
        for (const TrendBucket &b : m_buckets) {
            if (b.analogCount == 0) {
                broken = true; // only failed cycles here
                have = false;
                continue;
            }
            const int a = int(m_axisKeys.indexOf(axisKey(c, unitIn(b, c))));
            // No cycles for a while (a stall) is a gap too: a line never
            // crosses a stretch without readings.
            if (broken || a != axis || (have && b.first - previous > join) || b.analogGap()) {
                pieces.emplace_back();
                pieceAxes.push_back(a);
                axis = a;
            }
            broken = false;
            const double x = double(b.first + (b.last - b.first) / 2);
            pieces.back().append(QPointF(x, b.min[k]));
            if (b.max[k] != b.min[k])
                pieces.back().append(QPointF(x, b.max[k]));
            if (b.analogGap())
                broken = true; // a bucket with a failed cycle stands alone
            previous = b.last;
            have = !b.analogGap();
        }
    }
    update();
}

void TTrendChart::computeAxes(int plotHeight)
{
    QList<Axis> axes;
    QStringList keys;
    QList<double> lows, highs;
    QList<bool> anys;
    m_axisOf.fill(-1);
    const auto axisFor = [&](int c, const QString &unit) {
        QString title;
        const QString key = axisKey(c, unit, &title);
        qsizetype a = keys.indexOf(key);
        if (a < 0) {
            a = keys.size();
            keys << key;
            Axis axis;
            axis.title = title;
            axis.colour = channels[static_cast<std::size_t>(c)].colour;
            axis.left = a % 2 == 0;
            axes << axis;
            lows << 0;
            highs << 0;
            anys << false;
        }
        if (!axes[a].channels.contains(c))
            axes[a].channels << c;
        return int(a);
    };
    for (int c = 0; c < ValueCount; ++c) {
        const auto k = static_cast<std::size_t>(c);
        if (!channels[k].shown)
            continue;
        // Each unit the line has in view, in time order; its newest unit
        // when nothing is in view.
        for (const TrendBucket &b : m_buckets) {
            if (b.analogCount == 0)
                continue;
            const int a = axisFor(c, unitIn(b, c));
            lows[a] = anys[a] ? std::min(lows[a], double(b.min[k])) : b.min[k];
            highs[a] = anys[a] ? std::max(highs[a], double(b.max[k])) : b.max[k];
            anys[a] = true;
            m_axisOf[k] = a;
        }
        if (m_axisOf[k] < 0)
            m_axisOf[k] = axisFor(c, channels[k].unit);
    }
    const QFontMetrics fm = fontMetrics();
    for (qsizetype a = 0; a < axes.size(); ++a) {
        Axis &axis = axes[a];
        double low = anys[a] ? lows[a] : 0, high = anys[a] ? highs[a] : 1;
        const double margin = high > low ? (high - low) * 0.05 : (high != 0 ? std::abs(high) * 0.05 : 1.0);
        low -= margin;
        high += margin;
        axis.min = low + (high - low) * m_yLow;
        axis.max = low + (high - low) * m_yHigh;
        const double step = niceStep(axis.max - axis.min, std::max(2, plotHeight / 40));
        const int decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
        int widest = 0;
        for (double v = std::ceil(axis.min / step) * step; v <= axis.max + step * 1e-9; v += step) {
            const double tick = std::abs(v) < step * 1e-6 ? 0.0 : v;
            axis.ticks << tick;
            axis.labels << tickText(tick, decimals);
            widest = std::max(widest, fm.horizontalAdvance(axis.labels.last()));
        }
        // The tick, the labels whole, the rotated title.
        axis.width = std::max(AxisWidth, widest + 14 + fm.height() + 6);
    }
    m_axes = axes;
    m_axisKeys = keys;
}

void TTrendChart::computeTimeTicks()
{
    static constexpr qint64 Steps[] = {
        100,       200,        500,        1000,       2000,       5000,        10'000,     15'000,
        30'000,    60'000,     120'000,    300'000,    600'000,    900'000,     1'800'000,  3'600'000,
        7'200'000, 10'800'000, 21'600'000, 43'200'000, 86'400'000, 172'800'000, 604'800'000};
    m_timeTicks.clear();
    m_timeLabels.clear();
    const qint64 span = m_to - m_from;
    const int most = std::max(2, m_plot.width() / 90);
    qint64 step = Steps[std::size(Steps) - 1];
    for (qint64 s : Steps)
        if (span / s <= most) {
            step = s;
            break;
        }
    QString format = step < 60'000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    if (span > 86'400'000)
        format = step < 86'400'000 ? QStringLiteral("d.M. HH:mm") : QStringLiteral("d.M.");
    for (qint64 t = localFloor(m_from, step); t <= m_to; t += step) {
        if (t < m_from)
            continue;
        m_timeTicks << t;
        QString text = QDateTime::fromMSecsSinceEpoch(t).toString(format);
        if (step < 1000)
            text += QLocale().decimalPoint() + QString::number(t % 1000 / 100);
        m_timeLabels << text;
    }
}

void TTrendChart::computeLanes()
{
    quint32 changed = 0;
    bool have = false;
    quint32 previous = 0;
    for (const TrendBucket &b : m_buckets) {
        if (b.dinCount == 0)
            continue;
        changed |= b.dinAny ^ b.dinAll;
        if (have)
            changed |= previous ^ b.dinAll;
        previous = b.dinAll;
        have = true;
    }
    const quint32 now = m_history ? m_history->lastDin() : 0;
    const bool known = m_history && m_history->dinKnown();
    // At most a quarter of the chart: the ticked inputs first, then the
    // changed ones in order; the others are counted (the list names them).
    const int most = std::max(2, height() / 4 / LaneHeight);
    quint32 shown = tickedInputs;
    m_moreLanes = 0;
    for (int n = 0; n < 32; ++n) {
        if (!(changed >> n & 1) || (shown >> n & 1))
            continue;
        if (std::popcount(shown) < most - 1)
            shown |= 1u << n;
        else
            ++m_moreLanes;
    }
    if (m_moreLanes == 1 && std::popcount(shown) < most) { // room for the one left
        shown |= changed & ~shown;
        m_moreLanes = 0;
    }
    m_lanes.clear();
    for (int n = 0; n < 32; ++n) {
        if (!(shown >> n & 1))
            continue;
        Lane lane;
        lane.input = n;
        lane.state = known && (now >> n & 1);
        lane.label = QStringLiteral("DIN%1 = %2")
                         .arg(n)
                         .arg(known ? QString::number(int(lane.state)) : QStringLiteral("?"));
        m_lanes << lane;
    }
}

QList<QList<QPointF>> TTrendChart::segments(int channel) const
{
    const auto &pieces = m_pieces[static_cast<std::size_t>(channel)];
    return QList<QList<QPointF>>(pieces.begin(), pieces.end());
}

QList<int> TTrendChart::pieceAxes(int channel) const
{
    const auto &axes = m_pieceAxes[static_cast<std::size_t>(channel)];
    return QList<int>(axes.begin(), axes.end());
}

QList<TTrendChart::LegendEntry> TTrendChart::legend() const
{
    QList<LegendEntry> entries;
    for (int c = 0; c < ValueCount; ++c) {
        const Channel &ch = channels[static_cast<std::size_t>(c)];
        if (!ch.shown)
            continue;
        // The units of its pieces in view, in time order; its unit when none.
        QStringList units;
        for (const TrendBucket &b : m_buckets) {
            if (b.analogCount == 0)
                continue;
            const QString unit = unitIn(b, c);
            if (units.isEmpty() || units.last() != unit)
                units << unit;
        }
        if (units.isEmpty())
            units << ch.unit;
        units.removeAll(QString());
        const QString text = units.isEmpty()
                                 ? ch.name
                                 : ch.name + QStringLiteral(" [") + units.join(QStringLiteral(" → ")) + u']';
        entries << LegendEntry{text, ch.colour};
    }
    return entries;
}

namespace {
constexpr int LegendSwatch = 18; // the short line before each name
constexpr int LegendGap = 16;    // between two entries
} // namespace

int TTrendChart::legendHeight(int width) const
{
    const QList<LegendEntry> entries = legend();
    if (entries.isEmpty())
        return 0;
    const QFontMetrics fm = fontMetrics();
    int rows = 1, x = 8;
    for (const LegendEntry &e : entries) {
        const int w = LegendSwatch + 4 + fm.horizontalAdvance(e.text);
        if (x > 8 && x + w > width - 8) {
            ++rows;
            x = 8;
        }
        x += w + LegendGap;
    }
    return rows * (fm.height() + 4) + 8;
}

void TTrendChart::paintLegend(QPainter &p, const QRect &area) const
{
    const QFontMetrics fm = fontMetrics();
    int x = area.left() + 8, y = area.top() + 4;
    for (const LegendEntry &e : legend()) {
        const int w = LegendSwatch + 4 + fm.horizontalAdvance(e.text);
        if (x > area.left() + 8 && x + w > area.right() - 8) {
            x = area.left() + 8;
            y += fm.height() + 4;
        }
        const int mid = y + fm.height() / 2;
        p.setPen(QPen(e.colour, 3));
        p.drawLine(x, mid, x + LegendSwatch, mid);
        p.setPen(Qt::black);
        p.drawText(QRect(x + LegendSwatch + 4, y, w, fm.height()), Qt::AlignLeft | Qt::AlignVCenter, e.text);
        x += w + LegendGap;
    }
}

QStringList TTrendChart::cursorLines(qint64 t) const
{
    QStringList lines{clockText(t), QStringLiteral("Úsek: ") + durationText(m_width)};
    const TrendBucket *hit = nullptr;
    // Of two buckets in one slot (the units changed within it), the one
    // that had begun by t.
    for (const TrendBucket &b : m_buckets)
        if (t >= b.start && t < b.start + m_width && (!hit || b.first <= t))
            hit = &b;
    if (hit && hit->analogCount > 0) {
        for (int c = 0; c < ValueCount; ++c) {
            const Channel &ch = channels[static_cast<std::size_t>(c)];
            if (!ch.shown)
                continue;
            const auto k = static_cast<std::size_t>(c);
            const QString u = unitIn(*hit, c);
            const QString unit = u.isEmpty() ? QString() : QStringLiteral(" ") + u;
            QString value = FormatFixed(hit->min[k], ch.decimals);
            if (hit->max[k] != hit->min[k])
                value += QStringLiteral(" až ") + FormatFixed(hit->max[k], ch.decimals);
            lines << ch.name + QStringLiteral(": ") + value + unit;
        }
    }
    bool failed = false;
    for (const TrendFailure &f : m_failures) {
        if (t >= f.first - m_width && t <= f.last + m_width) {
            lines << QStringLiteral("Chyba: ") +
                         (f.error.isEmpty() ? QStringLiteral("čtení selhalo") : f.error) +
                         (f.cycles > 1 ? QStringLiteral(" (%1× za sebou)").arg(f.cycles) : QString());
            failed = true;
        }
    }
    if (!failed && (!hit || hit->analogCount == 0))
        lines << QStringLiteral("Bez hodnot");
    return lines;
}

void TTrendChart::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    Layout l;
    l.plot = m_plot;
    l.lanes = m_laneRect;
    l.leftWidth = m_plot.left();
    p.fillRect(rect(), Qt::white);
    paintInto(p, l, true);
    if (m_screenLegend) {
        const int legend = legendHeight(width());
        paintLegend(p, QRect(0, height() - legend, width(), legend));
    }
}

void TTrendChart::setLegendShown(bool shown)
{
    if (m_screenLegend == shown)
        return;
    m_screenLegend = shown;
    rebuild();
}

void TTrendChart::render(QPainter &p, const QSize &size, const QString &caption) const
{
    const int captionHeight = caption.isEmpty() ? 0 : fontMetrics().height() + 8;
    p.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    // The legend under the chart, in the room left below it.
    const int legend = legendHeight(size.width());
    paintLegend(p, QRect(0, size.height() - legend, size.width(), legend));
    if (!caption.isEmpty()) {
        p.setPen(Qt::black);
        p.drawText(QRect(8, 4, size.width() - 16, captionHeight), Qt::AlignLeft | Qt::AlignVCenter, caption);
    }
    // The same plot as on the screen, moved down under the caption.
    p.save();
    p.translate(0, captionHeight);
    Layout l;
    l.plot = m_plot;
    l.lanes = m_laneRect;
    paintInto(p, l, false);
    p.restore();
}

QByteArray TTrendChart::image(const QString &format, const QString &caption) const
{
    const int captionHeight = fontMetrics().height() + 8;
    // Below the chart, unless the chart shows it already.
    const QSize size(width(), height() + captionHeight + (m_screenLegend ? 0 : legendHeight(width())));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (format.compare(u"svg", Qt::CaseInsensitive) == 0) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(caption);
        QPainter p;
        if (!p.begin(&svg))
            return {};
        render(p, size, caption);
        p.end();
    } else {
        QImage picture(size, QImage::Format_RGB32);
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        render(p, size, caption);
        p.end();
        if (!picture.save(&buffer, "PNG"))
            return {};
    }
    return buffer.data();
}

void TTrendChart::paintInto(QPainter &p, const Layout &l, bool withCursor) const
{
    const QRect plot = l.plot;
    const double span = double(std::max<qint64>(1, m_to - m_from));
    const auto x = [&](double t) { return plot.left() + (t - double(m_from)) * plot.width() / span; };
    const QFontMetrics fm = fontMetrics();

    // Grid of the first axis and of the time.
    p.setPen(Grid);
    if (!m_axes.isEmpty()) {
        const Axis &a = m_axes.first();
        for (double v : a.ticks) {
            const double y = plot.bottom() - (v - a.min) / (a.max - a.min) * plot.height();
            p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        }
    }
    for (qint64 t : m_timeTicks)
        p.drawLine(QPointF(x(double(t)), plot.top()), QPointF(x(double(t)), plot.bottom()));

    // Failed stretches under the lines, at least three pixels wide; those
    // that touch on the screen are one rectangle.
    QRectF shade;
    const auto flushShade = [&] {
        if (!shade.isNull())
            p.fillRect(shade & QRectF(plot), FailShade);
        shade = QRectF();
    };
    for (const TrendFailure &f : m_failures) {
        double x0 = x(double(f.first)), x1 = x(double(f.last));
        if (x1 - x0 < 3) {
            x0 -= 1.5;
            x1 = x0 + 3;
        }
        if (!shade.isNull() && x0 <= shade.right() + 1) {
            shade.setRight(std::max(shade.right(), x1));
            continue;
        }
        flushShade();
        shade = QRectF(QPointF(x0, plot.top()), QPointF(x1, plot.bottom()));
    }
    flushShade();

    // The lines: one polyline per unbroken piece.
    p.save();
    p.setClipRect(plot.adjusted(0, 0, 1, 1));
    for (int c = 0; c < ValueCount; ++c) {
        const auto &pieces = m_pieces[static_cast<std::size_t>(c)];
        p.setPen(QPen(channels[static_cast<std::size_t>(c)].colour, 1));
        QPolygonF line;
        for (std::size_t n = 0; n < pieces.size(); ++n) {
            const QList<QPointF> &piece = pieces[n];
            const Axis &axis = m_axes.at(m_pieceAxes[static_cast<std::size_t>(c)][n]);
            const double scale = plot.height() / std::max(1e-300, axis.max - axis.min);
            line.resize(piece.size());
            for (qsizetype i = 0; i < piece.size(); ++i)
                line[i] = QPointF(x(piece[i].x()), plot.bottom() - (piece[i].y() - axis.min) * scale);
            if (line.size() == 1) // a lone point would be invisible as a line
                p.fillRect(QRectF(line.first() - QPointF(1.5, 1.5), QSizeF(3, 3)),
                           channels[std::size_t(c)].colour);
            else
                p.drawPolyline(line);
        }
    }
    p.restore();

    p.setPen(Qt::gray);
    p.drawRect(plot);

    // Value axes: left and right in turn, outwards.
    int leftOffset = 0, rightOffset = 0;
    for (const Axis &a : m_axes) {
        const int ax = a.left ? plot.left() - leftOffset : plot.right() + rightOffset;
        (a.left ? leftOffset : rightOffset) += a.width;
        const int dir = a.left ? -1 : 1;
        p.setPen(QPen(a.colour, 2));
        p.drawLine(ax, plot.top(), ax, plot.bottom());
        p.setPen(Qt::black);
        for (qsizetype k = 0; k < a.ticks.size(); ++k) {
            const int y =
                int(std::lround(plot.bottom() - (a.ticks[k] - a.min) / (a.max - a.min) * plot.height()));
            p.drawLine(ax, y, ax + 4 * dir, y);
            const int labelWidth = a.width - fm.height() - 12;
            const QRect box = a.left
                                  ? QRect(ax - 6 - labelWidth, y - fm.height() / 2, labelWidth, fm.height())
                                  : QRect(ax + 6, y - fm.height() / 2, labelWidth, fm.height());
            p.drawText(box, (a.left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, a.labels[k]);
        }
        p.save();
        p.setPen(a.colour.darker(120));
        const int tx = a.left ? ax - a.width + 2 : ax + a.width - 2 - fm.height();
        p.translate(tx + fm.height(), plot.center().y());
        p.rotate(a.left ? -90 : 90);
        if (!a.left)
            p.translate(0, fm.height());
        p.drawText(QRect(-plot.height() / 2, -fm.height(), plot.height(), fm.height()), Qt::AlignCenter,
                   a.title);
        p.restore();
    }

    // Time labels.
    p.setPen(Qt::black);
    for (qsizetype k = 0; k < m_timeTicks.size(); ++k) {
        const int tx = int(std::lround(x(double(m_timeTicks[k]))));
        p.drawLine(tx, plot.bottom(), tx, plot.bottom() + 3);
        p.drawText(QRect(tx - 60, plot.bottom() + 4, 120, fm.height()), Qt::AlignHCenter | Qt::AlignTop,
                   m_timeLabels[k]);
    }

    // Digital inputs: a band for 1, a line for 0, a light band where a
    // bucket saw both, nothing where no read succeeded.
    const qint64 join = m_history ? m_history->joinLimit(m_width) : 1000;
    for (qsizetype n = 0; n < m_lanes.size(); ++n) {
        const Lane &lane = m_lanes[n];
        const int top = l.lanes.top() + 3 + int(n) * LaneHeight;
        const int high = top + 2;
        const int low = top + LaneHeight - 2;
        p.setPen(Qt::black);
        p.drawText(QRect(2, top, plot.left() - 6, LaneHeight), Qt::AlignRight | Qt::AlignVCenter, lane.label);
        if (n + 1 == m_lanes.size() && m_moreLanes > 0)
            p.drawText(QRect(plot.left(), top + LaneHeight, plot.width(), LaneHeight),
                       Qt::AlignLeft | Qt::AlignVCenter,
                       QStringLiteral("… a %1 dalších změněných vstupů (seznam Změny, Vždy kreslit)")
                           .arg(m_moreLanes));
        p.setPen(Grid);
        p.drawLine(plot.left(), low, plot.right(), low);
        const quint32 bit = 1u << lane.input;
        for (qsizetype k = 0; k < m_buckets.size(); ++k) {
            const TrendBucket &b = m_buckets[k];
            if (b.dinCount == 0)
                continue;
            const TrendBucket *next = k + 1 < m_buckets.size() ? &m_buckets[k + 1] : nullptr;
            const bool joined = next && next->dinCount > 0 && !b.dinGap() && next->first - b.last <= join;
            const double x0 = std::max(double(plot.left()), x(double(b.first)));
            const double x1 = std::min(double(plot.right()),
                                       joined ? x(double(next->first)) : std::max(x(double(b.last)), x0 + 1));
            if (x1 < plot.left() || x0 > plot.right())
                continue;
            if (b.dinAll & bit)
                p.fillRect(QRectF(QPointF(x0, high), QPointF(x1, low)), LaneColour);
            else if (b.dinAny & bit)
                p.fillRect(QRectF(QPointF(x0, high), QPointF(x1, low)), LaneColour.lighter(170));
            else {
                p.setPen(QPen(LaneColour, 2));
                p.drawLine(QPointF(x0, low), QPointF(x1, low));
            }
        }
    }

    if (!withCursor)
        return;
    if (m_band.isValid()) {
        p.setPen(QPen(Qt::darkBlue, 1, Qt::DashLine));
        p.fillRect(m_band, QColor(0x40, 0x60, 0xc0, 40));
        p.drawRect(m_band);
    }
    if (cursorShown()) {
        const double cx = x(double(m_cursorTime));
        p.setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
        p.drawLine(QPointF(cx, plot.top()), QPointF(cx, plot.bottom()));
        const QStringList lines = cursorLines(m_cursorTime);
        int w = 0;
        for (const QString &s : lines)
            w = std::max(w, fm.horizontalAdvance(s));
        QRect box(int(cx) + 10, plot.top() + 8, w + 12, int(lines.size()) * fm.height() + 8);
        if (box.right() > plot.right())
            box.moveRight(int(cx) - 10);
        if (box.left() < plot.left()) // never over the axes' numbers
            box.moveLeft(plot.left() + 2);
        p.setPen(Qt::gray);
        p.setBrush(QColor(255, 255, 240, 235));
        p.drawRect(box);
        p.setBrush(Qt::NoBrush);
        for (qsizetype k = 0; k < lines.size(); ++k) {
            p.setPen(Qt::black);
            p.drawText(QRect(box.left() + 6, box.top() + 4 + int(k) * fm.height(), w, fm.height()),
                       Qt::AlignLeft | Qt::AlignVCenter, lines[k]);
        }
    }
}

void TTrendChart::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    rebuild();
}

void TTrendChart::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore();
        return;
    }
    zoomAt(event->position().x(), std::pow(0.8, delta / 120.0));
    pointerAt(event->position());
    event->accept();
}

void TTrendChart::mousePressEvent(QMouseEvent *event)
{
    if (!m_plot.contains(event->position().toPoint())) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_press = m_last = event->position().toPoint();
    const bool band = event->button() == Qt::RightButton ||
                      (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ControlModifier));
    m_drag = band ? Drag::Band : event->button() == Qt::LeftButton ? Drag::Pan : Drag::None;
    m_band = QRect();
    event->accept();
}

void TTrendChart::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    if (m_drag == Drag::Pan) {
        panBy(pos.x() - m_last.x());
        m_last = pos;
        pointerAt(event->position());
    } else if (m_drag == Drag::Band) {
        m_band = QRect(m_press, pos).normalized() & m_plot;
        update();
    } else {
        pointerAt(event->position());
    }
}

void TTrendChart::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_drag == Drag::Band) {
        const QRect band = QRect(m_press, event->position().toPoint()).normalized();
        m_band = QRect();
        m_drag = Drag::None;
        zoomInto(band);
    }
    m_drag = Drag::None;
    pointerAt(event->position()); // the time under the pointer in the new view
}

void TTrendChart::mouseDoubleClickEvent(QMouseEvent *event)
{
    m_drag = Drag::None;
    goLive();
    pointerAt(event->position());
}

void TTrendChart::pointerAt(const QPointF &pos)
{
    m_pointer = pos;
    m_cursor = m_plot.contains(pos.toPoint());
    m_cursorTime = timeAt(pos.x());
    update();
}

bool TTrendChart::cursorShown() const
{
    // The chosen time stays; once the live view has moved it out, no line
    // is drawn over the axes.
    return m_cursor && m_drag == Drag::None && m_cursorTime >= m_from && m_cursorTime <= m_to;
}

void TTrendChart::leaveEvent(QEvent *)
{
    m_cursor = false;
    update();
}
