#include "trend/Prubeh.h"

#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "live/FixedPoint.h"

#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {
const QString RecordText = QStringLiteral("Záznam do souboru");
const QString StopRecordText = QStringLiteral("Ukončit záznam");
const QString PauseText = QStringLiteral("Pozastavit");
const QString ResumeText = QStringLiteral("Pokračovat");

// Thirteen colours that stay apart on white.
const std::array<QColor, TFormPrubeh::ValueCount> LineColours{
    QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28), QColor(0x2c, 0xa0, 0x2c), QColor(0xff, 0x7f, 0x0e),
    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b), QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f),
    QColor(0xbc, 0xbd, 0x22), QColor(0x17, 0xbe, 0xcf), QColor(0x00, 0x00, 0x80), QColor(0x80, 0x00, 0x00),
    QColor(0x00, 0x00, 0x00)};

QString channelName(int channel)
{
    return channel < AnalogReading::InputCount ? QStringLiteral("Vstup %1").arg(channel)
                                               : QStringLiteral("Interní teplota");
}

bool askReplace(QWidget *parent, const QString &question)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Průběh hodnot"), question, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText); // the question names a file
    QPushButton *yes = box.addButton(QStringLiteral("Ano"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Ne"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.exec();
    return box.clickedButton() == yes;
}
} // namespace

TBitTraces::TBitTraces(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(32 * LaneHeight + 4);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TBitTraces::setTraces(const QList<TrendBucket> &buckets, qint64 from, qint64 to, int left, int right)
{
    m_buckets = buckets;
    m_from = from;
    m_to = std::max(from + 1, to);
    m_left = left;
    m_right = std::max(left + 1, right);
    update();
}

void TBitTraces::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    QFont small = font();
    small.setPixelSize(LaneHeight - 2);
    p.setFont(small);
    const double scale = double(m_right - m_left) / double(m_to - m_from);
    const auto x = [&](qint64 t) { return m_left + int(std::lround(double(t - m_from) * scale)); };
    for (int n = 0; n < 32; ++n) {
        const int top = 2 + n * LaneHeight;
        const int high = top + 1;
        const int low = top + LaneHeight - 2;
        p.setPen(Qt::darkGray);
        p.drawText(QRect(0, top, std::max(0, m_left - 4), LaneHeight), Qt::AlignRight | Qt::AlignVCenter,
                   QStringLiteral("DIN%1").arg(n));
        p.setPen(QColor(0xe0, 0xe0, 0xe0));
        p.drawLine(m_left, low, m_right, low);
        p.setPen(QColor(0x20, 0x40, 0xa0));
        const quint32 bit = 1u << n;
        // Runs of buckets in one state are drawn as one stroke.
        int runState = -1; // 0 low, 1 high, 2 both
        int runStart = 0;
        int runEnd = 0;
        const auto flush = [&] {
            if (runState == 0 || runState == 1)
                p.drawLine(runStart, runState ? high : low, runEnd, runState ? high : low);
            else if (runState == 2)
                p.fillRect(QRect(QPoint(runStart, high), QPoint(runEnd, low)), p.pen().color());
            runState = -1;
        };
        for (qsizetype k = 0; k < m_buckets.size(); ++k) {
            const TrendBucket &b = m_buckets.at(k);
            if (b.dinCount == 0) {
                flush(); // no successful read: a gap
                continue;
            }
            const int x0 = std::max(m_left, x(b.first));
            // Up to the next bucket when it follows without a gap.
            const bool joined = k + 1 < m_buckets.size() && !b.dinGap() && m_buckets.at(k + 1).dinCount > 0;
            const int x1 = std::min(m_right, joined ? x(m_buckets.at(k + 1).first) : std::max(x(b.last), x0 + 1));
            const int state = (b.dinAll & bit) ? 1 : (b.dinAny & bit) ? 2 : 0;
            if (state != runState) {
                flush();
                runState = state;
                runStart = x0;
            }
            runEnd = x1;
            if (!joined)
                flush();
        }
        flush();
    }
}

TFormPrubeh::TFormPrubeh(QWidget *parent) : TCycleDialog(parent)
{
    setWindowTitle(QStringLiteral("Průběh hodnot"));
    setSizeGripEnabled(true);
    resize(1100, 760);

    Chart1 = new QChart;
    Chart1->legend()->hide(); // the check boxes carry the colours
    Chart1->setMargins(QMargins(4, 4, 4, 4));
    m_axisX = new QDateTimeAxis(Chart1);
    m_axisX->setFormat(QStringLiteral("HH:mm:ss"));
    m_axisX->setTickCount(5);
    m_axisY = new QValueAxis(Chart1);
    // The internal temperature has a scale of its own: in one scale with
    // inputs of a few volts it would flatten them.
    m_axisT = new QValueAxis(Chart1);
    m_axisT->setTitleText(QStringLiteral("Interní teplota"));
    m_axisT->setLinePenColor(LineColours[AnalogReading::InputCount]);
    m_axisT->setGridLineVisible(false);
    Chart1->addAxis(m_axisX, Qt::AlignBottom);
    Chart1->addAxis(m_axisY, Qt::AlignLeft);
    Chart1->addAxis(m_axisT, Qt::AlignRight);
    // Every line has its first piece before the chart is shown: an axis
    // without any series when first laid out is never drawn.
    for (int c = 0; c < ValueCount; ++c)
        addPiece(c);
    const qint64 start = now();
    m_axisX->setRange(QDateTime::fromMSecsSinceEpoch(start - windowLength(Minute)), QDateTime::fromMSecsSinceEpoch(start));
    ChartView1 = new QChartView(Chart1, this);
    ChartView1->setObjectName(QStringLiteral("ChartView1"));
    ChartView1->setMinimumSize(560, 300);
    BitTraces1 = new TBitTraces(this);
    BitTraces1->setObjectName(QStringLiteral("BitTraces1"));

    QGridLayout *g = grid();
    g->setVerticalSpacing(2);
    g->addWidget(ChartView1, 0, 0);
    g->addWidget(BitTraces1, 1, 0);
    g->setColumnStretch(0, 1);
    g->setRowStretch(0, 1);

    auto *side = new QGridLayout;
    side->setHorizontalSpacing(8);
    side->setVerticalSpacing(2);
    const QStringList heads{QStringLiteral("Kanál"), QStringLiteral("Hodnota"), QStringLiteral("Minimum"),
                            QStringLiteral("Maximum"), QStringLiteral("Průměr")};
    for (int c = 0; c < heads.size(); ++c)
        side->addWidget(new QLabel(heads.at(c), this), 0, c);
    const auto valueLabel = [this](const QString &name, int i) {
        auto *l = new QLabel(this);
        l->setObjectName(name + QString::number(i));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setMinimumWidth(86);
        return l;
    };
    for (int i = 0; i < ValueCount; ++i) {
        const auto k = static_cast<std::size_t>(i);
        auto *box = new QCheckBox(channelName(i), this);
        box->setObjectName(QStringLiteral("CheckBox%1").arg(i));
        box->setChecked(true);
        QPalette pal = box->palette();
        pal.setColor(QPalette::WindowText, LineColours[k]);
        box->setPalette(pal);
        connect(box, &QCheckBox::clicked, this, &TFormPrubeh::CheckBoxClick);
        CheckBox[k] = box;
        Hodnota[k] = valueLabel(QStringLiteral("Hodnota"), i);
        Minimum[k] = valueLabel(QStringLiteral("Minimum"), i);
        Maximum[k] = valueLabel(QStringLiteral("Maximum"), i);
        Prumer[k] = valueLabel(QStringLiteral("Prumer"), i);
        side->addWidget(box, i + 1, 0);
        side->addWidget(Hodnota[k], i + 1, 1);
        side->addWidget(Minimum[k], i + 1, 2);
        side->addWidget(Maximum[k], i + 1, 3);
        side->addWidget(Prumer[k], i + 1, 4);
    }
    side->setRowMinimumHeight(ValueCount + 1, 12);

    auto *controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Okno:"), this));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems({QStringLiteral("1 min"), QStringLiteral("10 min"), QStringLiteral("1 h"), QStringLiteral("vše")});
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TFormPrubeh::ComboBox1Change);
    controls->addWidget(ComboBox1);
    Button2 = new QPushButton(PauseText, this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    connect(Button2, &QPushButton::clicked, this, &TFormPrubeh::Button2Click);
    controls->addWidget(Button2);
    Button3 = new QPushButton(RecordText, this);
    Button3->setObjectName(QStringLiteral("Button3"));
    Button3->setAutoDefault(false);
    connect(Button3, &QPushButton::clicked, this, &TFormPrubeh::Button3Click);
    controls->addWidget(Button3);
    controls->addStretch();
    side->addLayout(controls, ValueCount + 2, 0, 1, heads.size());
    side->setRowStretch(ValueCount + 3, 1);
    g->addLayout(side, 0, 1, 2, 1);

    addFooter(CyclePause, nullptr, {360, 0});
    Timer1->setTimerType(Qt::PreciseTimer);
    m_recordPanel = StatusBar1->panel(1);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(RefreshPeriod);
    connect(Timer2, &QTimer::timeout, this, &TFormPrubeh::Timer2Timer);
}

void TFormPrubeh::showEvent(QShowEvent *event)
{
    TCycleDialog::showEvent(event);
    Timer2->start();
}

void TFormPrubeh::hideEvent(QHideEvent *event)
{
    Timer2->stop();
    TCycleDialog::hideEvent(event);
}

TFormPrubeh::~TFormPrubeh() = default;

qint64 TFormPrubeh::windowLength(int window)
{
    switch (window) {
    case Minute:
        return 60'000;
    case TenMinutes:
        return 600'000;
    case Hour:
        return 3'600'000;
    default:
        return 0;
    }
}

qint64 TFormPrubeh::now() const
{
    return clock ? clock() : QDateTime::currentMSecsSinceEpoch();
}

void TFormPrubeh::cycle(const QPointer<TCycleDialog> &self)
{
    if (!canSend()) {
        showStale(Hodnota);
        return;
    }
    const qint64 time = now();
    const AnalogReading r = m_cycle.run(*Data, address(), [&] { return keepGoing(self); });
    if (r.outcome == AnalogReading::Outcome::Stopped)
        return; // closed or gone: touch nothing
    // No events since the cycle's last transaction: the window is still there.
    quint32 din = 0;
    const quint8 dinError = ReadDigitalInputs(*Data, address(), din);
    quint8 error = 0;
    const TrendSample s = MakeTrendSample(time, r, dinError, din, Data->adapterKind, &error);

    m_history.append(s);
    if (m_recorder.isOpen() && !m_recorder.write(s))
        stopRecording(QStringLiteral(" Zápis do souboru selhal: ") + m_recorder.errorString());

    if (s.analogValid) {
        for (std::size_t k = 0; k < ValueCount; ++k) {
            m_decimals[k] = s.decimals[k];
            Hodnota[k]->setText(FormatFixed(static_cast<float>(s.values[k]), s.decimals[k]) + QStringLiteral(" ")
                                + r.values[k].unit);
        }
        showStale(Hodnota, false);
        ++m_completed;
    } else {
        showStale(Hodnota); // the last complete cycle stays, greyed
    }
    const QString status = QStringLiteral(" ") + ErrorText(Data->adapterKind, error);
    if (StatusBar1->text(0) != status)
        StatusBar1->setText(0, status);
}

void TFormPrubeh::Button2Click()
{
    m_paused = !m_paused;
    m_pausedAt = now();
    Button2->setText(m_paused ? ResumeText : PauseText);
    refresh();
}

void TFormPrubeh::Button3Click()
{
    if (m_recorder.isOpen()) {
        stopRecording(QStringLiteral(" Záznam ukončen, řádků: %1").arg(m_recorder.rows()));
        return;
    }
    const QString proposed = QDir::home().filePath(
        QStringLiteral("Prubeh_") + QDateTime::fromMSecsSinceEpoch(now()).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"))
        + QStringLiteral(".csv"));
    QString path;
    if (chooseFile) {
        path = chooseFile(this, proposed);
    } else {
        // The replace question is ours, with the same words everywhere.
        path = QFileDialog::getSaveFileName(this, RecordText, proposed, QStringLiteral("CSV (*.csv)"), nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    }
    if (path.isEmpty())
        return;
    if (QFileInfo::exists(path)) {
        const QString question =
            QStringLiteral("Soubor „%1“ už existuje.\nPřepsat ho? Jeho dosavadní obsah bude ztracen.")
                .arg(QDir::toNativeSeparators(path));
        const bool yes = ask ? ask(this, question) : askReplace(this, question);
        if (!yes) {
            m_recordPanel->setText(QStringLiteral(" Záznam nezahájen."));
            return;
        }
    }
    if (!m_recorder.open(path, m_cycle.units())) {
        m_recordPanel->setText(QStringLiteral(" Soubor nelze zapsat: ") + m_recorder.errorString());
        return;
    }
    Button3->setText(StopRecordText);
    m_recordPanel->setText(QStringLiteral(" Záznam do ") + QDir::toNativeSeparators(path));
}

void TFormPrubeh::stopRecording(const QString &status)
{
    m_recorder.close();
    Button3->setText(RecordText);
    m_recordPanel->setText(status);
}

void TFormPrubeh::Timer2Timer()
{
    if (!m_paused)
        refresh();
}

void TFormPrubeh::ComboBox1Change() { refresh(); }
void TFormPrubeh::CheckBoxClick() { refresh(); }

QList<QList<QPointF>> TFormPrubeh::segments(int channel) const
{
    QList<QList<QPointF>> pieces;
    const auto k = static_cast<std::size_t>(channel);
    for (int i = 0; i < m_used[k]; ++i)
        pieces.append(m_series[k].at(i)->points());
    return pieces;
}

void TFormPrubeh::refresh()
{
    const qint64 to = m_paused ? m_pausedAt : now();
    const qint64 length = windowLength(ComboBox1->currentIndex());
    const qint64 from = length > 0 ? to - length : (m_history.isEmpty() ? to - 60'000 : m_history.firstTime());
    // About one bucket per three pixels of the plot: drawn as its minimum and
    // maximum, every spike stays visible.
    const QRectF plot = Chart1->plotArea();
    const int wanted = std::clamp(static_cast<int>(plot.width() / 3), 100, 600);
    const QList<TrendBucket> buckets = m_history.view(from, to, wanted);
    const TrendBucket all = m_history.summary(from, to);

    // Value ranges of the shown inputs and of the temperature.
    std::array<double, 2> low{}, high{};
    std::array<bool, 2> any{};
    for (int c = 0; c < ValueCount; ++c) {
        const auto k = static_cast<std::size_t>(c);
        const bool shown = CheckBox[k]->isChecked();
        drawChannel(c, shown ? buckets : QList<TrendBucket>{});
        const QString unit = m_cycle.unit(c);
        const auto text = [&](double v, int decimals) -> QString {
            return FormatFixed(v, decimals) + QStringLiteral(" ") + unit;
        };
        if (!shown || all.analogCount == 0) {
            Minimum[k]->clear();
            Maximum[k]->clear();
            Prumer[k]->clear();
            continue;
        }
        Minimum[k]->setText(text(all.min[k], m_decimals[k]));
        Maximum[k]->setText(text(all.max[k], m_decimals[k]));
        Prumer[k]->setText(text(all.mean(c), m_decimals[k] + 1));
        const std::size_t a = c < AnalogReading::InputCount ? 0 : 1;
        low[a] = any[a] ? std::min(low[a], double(all.min[k])) : all.min[k];
        high[a] = any[a] ? std::max(high[a], double(all.max[k])) : all.max[k];
        any[a] = true;
    }
    QValueAxis *const axes[] = {m_axisY, m_axisT};
    for (std::size_t a = 0; a < 2; ++a) {
        if (!any[a])
            continue;
        const double margin = high[a] > low[a] ? (high[a] - low[a]) * 0.05 : std::max(1.0, std::abs(high[a]) * 0.05);
        axes[a]->setRange(low[a] - margin, high[a] + margin);
    }
    m_axisT->setVisible(CheckBox[AnalogReading::InputCount]->isChecked());
    m_axisX->setFormat(to - from > 86'400'000 ? QStringLiteral("d.M. HH:mm") : QStringLiteral("HH:mm:ss"));
    m_axisX->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(to));

    const QPointF left = ChartView1->mapFromScene(Chart1->mapToScene(plot.topLeft()));
    const QPointF right = ChartView1->mapFromScene(Chart1->mapToScene(plot.topRight()));
    const int offset = ChartView1->x() - BitTraces1->x();
    BitTraces1->setTraces(buckets, from, to, static_cast<int>(left.x()) + offset, static_cast<int>(right.x()) + offset);
}

void TFormPrubeh::drawChannel(int channel, const QList<TrendBucket> &buckets)
{
    const auto k = static_cast<std::size_t>(channel);
    QList<QList<QPointF>> pieces(1);
    const auto breakLine = [&pieces] {
        if (!pieces.last().isEmpty())
            pieces.append(QList<QPointF>{});
    };
    for (const TrendBucket &b : buckets) {
        if (b.analogCount == 0) {
            breakLine(); // only failed cycles here: a gap
            continue;
        }
        // A bucket with a failed cycle stands alone: nothing is drawn across the failure.
        if (b.analogGap())
            breakLine();
        const double x = double(b.first + (b.last - b.first) / 2);
        pieces.last().append(QPointF(x, b.min[k]));
        if (b.max[k] != b.min[k])
            pieces.last().append(QPointF(x, b.max[k]));
        if (b.analogGap())
            breakLine();
    }
    if (pieces.last().isEmpty())
        pieces.removeLast();

    QList<QLineSeries *> &pool = m_series[k];
    while (pool.size() < pieces.size())
        addPiece(channel);
    for (qsizetype i = 0; i < pool.size(); ++i) {
        QLineSeries *s = pool.at(i);
        if (i < pieces.size()) {
            // A lone point would be invisible as a line: show it as a dot.
            s->setPointsVisible(pieces.at(i).size() == 1);
            s->replace(pieces.at(i));
            s->setVisible(true);
        } else if (s->count() > 0) {
            s->clear();
            s->setVisible(false);
        }
    }
    m_used[k] = static_cast<int>(pieces.size());
}

void TFormPrubeh::addPiece(int channel)
{
    const auto k = static_cast<std::size_t>(channel);
    auto *s = new QLineSeries(Chart1);
    s->setName(channelName(channel));
    QPen pen(LineColours[k]);
    pen.setWidth(1);
    s->setPen(pen);
    s->setMarkerSize(4);
    Chart1->addSeries(s);
    s->attachAxis(m_axisX);
    s->attachAxis(channel < AnalogReading::InputCount ? m_axisY : m_axisT);
    m_series[k].append(s);
}
