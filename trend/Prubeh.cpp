#include "trend/Prubeh.h"

#include "app/Dekl.h"
#include "app/Otazka.h"
#include "app/StatusBar.h"
#include "core/SafeSave.h"
#include "live/FixedPoint.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace {
const QString RecordText = QStringLiteral("Záznam do souboru");
const QString StopRecordText = QStringLiteral("Ukončit záznam");
const QString PauseText = QStringLiteral("Pozastavit");
const QString ResumeText = QStringLiteral("Pokračovat");
const QString PictureText = QStringLiteral("Uložit obrázek…");

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
    return rq::ask(parent, QStringLiteral("Průběh hodnot"), question);
}

// A number is never cut: a label that is too narrow for its text widens
// (and with it the window's minimum size).
void setWhole(QLabel *label, const QString &text)
{
    label->setText(text);
    const int needed = label->fontMetrics().horizontalAdvance(text) + 4;
    if (needed > label->minimumWidth())
        label->setMinimumWidth(needed);
}

QString stamp(qint64 ms, const QString &format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(format);
}
} // namespace

TFormPrubeh::TFormPrubeh(QWidget *parent) : TLiveDialog(parent)
{
    setWindowTitle(QStringLiteral("Průběh hodnot"));
    setSizeGripEnabled(true);
    resize(1200, 760);

    Chart1 = new TTrendChart(this);
    Chart1->setObjectName(QStringLiteral("Chart1"));
    Chart1->setHistory(&m_history);
    for (int c = 0; c < ValueCount; ++c) {
        TTrendChart::Channel &ch = Chart1->channels[static_cast<std::size_t>(c)];
        ch.name = channelName(c);
        ch.colour = LineColours[static_cast<std::size_t>(c)];
    }
    connect(Chart1, &TTrendChart::viewChanged, this, &TFormPrubeh::ChartViewChange);

    // The side panel: the channel table, the controls and the digital
    // inputs; the chart takes the rest of the window and grows with it.
    auto *side = new QWidget(this);
    side->setObjectName(QStringLiteral("SidePanel"));
    side->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Preferred);
    auto *column = new QVBoxLayout(side);
    column->setContentsMargins(0, 0, 0, 0);
    auto *table = new QGridLayout;
    table->setHorizontalSpacing(6);
    table->setVerticalSpacing(1);
    const QStringList heads{QStringLiteral("Kanál"), QStringLiteral("Hodnota"), QStringLiteral("Minimum"),
                            QStringLiteral("Maximum"), QStringLiteral("Průměr")};
    for (int c = 0; c < heads.size(); ++c)
        table->addWidget(new QLabel(heads.at(c), side), 0, c);
    const auto valueLabel = [side](const QString &name, int i) {
        auto *l = new QLabel(side);
        l->setObjectName(name + QString::number(i));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        // Room for a usual value at once; a longer one widens it (setWhole).
        l->setMinimumWidth(l->fontMetrics().horizontalAdvance(QStringLiteral("-000,000 ohm")) + 4);
        return l;
    };
    for (int i = 0; i < ValueCount; ++i) {
        const auto k = static_cast<std::size_t>(i);
        auto *box = new QCheckBox(channelName(i), side);
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
        table->addWidget(box, i + 1, 0);
        table->addWidget(Hodnota[k], i + 1, 1);
        table->addWidget(Minimum[k], i + 1, 2);
        table->addWidget(Maximum[k], i + 1, 3);
        table->addWidget(Prumer[k], i + 1, 4);
    }
    column->addLayout(table);

    // The controls in one row under the chart: they stay when the side
    // panel folds away.
    m_controls = new QWidget(this);
    m_controls->setObjectName(QStringLiteral("Controls"));
    auto *controls = m_controls;
    const auto button = [this, controls](const QString &name, const QString &text) {
        auto *b = new QPushButton(text, controls);
        b->setObjectName(name);
        b->setAutoDefault(false);
        return b;
    };
    auto *row1 = new QHBoxLayout(controls);
    row1->setContentsMargins(0, 0, 0, 0);
    row1->addWidget(new QLabel(QStringLiteral("Okno:"), controls));
    ComboBox1 = new QComboBox(controls);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems(
        {QStringLiteral("1 min"), QStringLiteral("10 min"), QStringLiteral("1 h"), QStringLiteral("vše")});
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TFormPrubeh::ComboBox1Change);
    row1->addWidget(ComboBox1);
    Button5 = button(QStringLiteral("Button5"), QStringLiteral("Živě"));
    Button5->setToolTip(QStringLiteral("Zpět na nejnovější hodnoty (také dvojklik do grafu)"));
    Button5->setEnabled(false);
    connect(Button5, &QPushButton::clicked, this, &TFormPrubeh::Button5Click);
    row1->addWidget(Button5);
    Button2 = button(QStringLiteral("Button2"), PauseText);
    connect(Button2, &QPushButton::clicked, this, &TFormPrubeh::Button2Click);
    row1->addWidget(Button2);
    auto *row2 = row1;
    Button3 = button(QStringLiteral("Button3"), RecordText);
    connect(Button3, &QPushButton::clicked, this, &TFormPrubeh::Button3Click);
    row2->addWidget(Button3);
    Button4 = button(QStringLiteral("Button4"), PictureText);
    connect(Button4, &QPushButton::clicked, this, &TFormPrubeh::Button4Click);
    row2->addWidget(Button4);
    row2->addStretch();

    auto *dinRow = new QHBoxLayout;
    auto *dinColumn = new QVBoxLayout;
    dinColumn->addWidget(new QLabel(QStringLiteral("Vždy kreslit:"), side));
    ListDin = new QListWidget(side);
    ListDin->setObjectName(QStringLiteral("ListDin"));
    ListDin->setToolTip(QStringLiteral("Digitální vstupy kreslené i bez změny"));
    for (int n = 0; n < 32; ++n) {
        auto *item = new QListWidgetItem(QStringLiteral("DIN%1").arg(n), ListDin);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
    ListDin->setMaximumWidth(90);
    connect(ListDin, &QListWidget::itemChanged, this, &TFormPrubeh::ListDinChange);
    dinColumn->addWidget(ListDin);
    dinRow->addLayout(dinColumn);
    auto *changeColumn = new QVBoxLayout;
    changeColumn->addWidget(new QLabel(QStringLiteral("Změny:"), side));
    ListZmeny = new QListWidget(side);
    ListZmeny->setObjectName(QStringLiteral("ListZmeny"));
    changeColumn->addWidget(ListZmeny);
    dinRow->addLayout(changeColumn, 1);
    column->addLayout(dinRow, 1);

    // What changed when the module's units changed, under the chart.
    LabelJednotky = new QLabel(this);
    LabelJednotky->setObjectName(QStringLiteral("LabelJednotky"));
    LabelJednotky->setWordWrap(true);
    LabelJednotky->setStyleSheet(QStringLiteral("color: #a03000"));
    LabelJednotky->hide();

    QGridLayout *g = grid();
    g->setHorizontalSpacing(8);
    g->addWidget(Chart1, 0, 0);
    g->addWidget(LabelJednotky, 1, 0);
    g->addWidget(m_controls, 2, 0);
    g->addWidget(side, 0, 1, 3, 1);
    m_side = side;
    // The window's minimum is the chart's and the controls', never the
    // side panel's: that one folds away instead (fitSidePanel).
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    g->setColumnStretch(0, 1);
    g->setRowStretch(0, 1);

    addFooter(CyclePause, nullptr, {360, 0});
    Timer1->setTimerType(Qt::PreciseTimer);
    m_recordPanel = StatusBar1->panel(1);

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(RefreshPeriod);
    connect(Timer2, &QTimer::timeout, this, &TFormPrubeh::Timer2Timer);
    Chart1->setNow(now());
}

TFormPrubeh::~TFormPrubeh() = default;

void TFormPrubeh::showEvent(QShowEvent *event)
{
    TLiveDialog::showEvent(event);
    Timer2->start();
}

void TFormPrubeh::resizeEvent(QResizeEvent *event)
{
    TLiveDialog::resizeEvent(event);
    fitSidePanel();
}

bool TFormPrubeh::sidePanelShown() const
{
    return !m_side->isHidden();
}

void TFormPrubeh::fitSidePanel()
{
    const QMargins m = layout()->contentsMargins();
    const int spacing = grid()->verticalSpacing() < 0 ? 6 : grid()->verticalSpacing();
    const int chartWidth = std::max(Chart1->minimumWidth(), m_controls->minimumSizeHint().width());
    int chartHeight = Chart1->minimumHeight() + spacing + m_controls->minimumSizeHint().height();
    if (!LabelJednotky->isHidden())
        chartHeight += spacing + LabelJednotky->heightForWidth(chartWidth);
    // The button row and the status bar under the grid.
    const int rest =
        m.top() + m.bottom() + Button1->sizeHint().height() + StatusBar1->sizeHint().height() + 12;
    const QSize side = m_side->minimumSizeHint();
    setMinimumSize(m.left() + m.right() + chartWidth, rest + chartHeight);
    const bool fits =
        width() >= m.left() + m.right() + chartWidth + grid()->horizontalSpacing() + side.width() &&
        height() >= rest + std::max(chartHeight, side.height());
    if (fits == sidePanelShown())
        return;
    m_side->setVisible(fits);
    Chart1->setLegendShown(!fits);
}

void TFormPrubeh::hideEvent(QHideEvent *event)
{
    Timer2->stop();
    TLiveDialog::hideEvent(event);
    m_cycle.restart(); // a cycle cut short by hiding is not finished later
}

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

void TFormPrubeh::Timer1Timer()
{
    if (!Data)
        return;
    if (!canSend()) {
        showStale(Hodnota);
        m_cycle.restart();
        Timer1->start(CyclePause);
        return;
    }
    TrendSample s;
    quint8 error = 0;
    const bool done = m_cycle.step(*Data, address(), now(), s, &error);
    if (done)
        cycleDone(s, error);
    // The next transaction as soon as pending events are handled, the next
    // cycle after a short pause.
    Timer1->start(done ? CyclePause : 0);
}

QString TFormPrubeh::unitChangeText(const std::array<QString, ValueCount> &before,
                                    const std::array<QString, ValueCount> &after)
{
    const auto shown = [](const QString &unit) {
        return unit.isEmpty() ? QStringLiteral("bez jednotky") : unit;
    };
    QStringList changes;
    for (int c = 0; c < ValueCount; ++c) {
        const auto k = static_cast<std::size_t>(c);
        if (before[k] != after[k])
            changes << QStringLiteral("%1 %2 → %3").arg(channelName(c), shown(before[k]), shown(after[k]));
    }
    return changes.isEmpty() ? QString()
                             : QStringLiteral("Modul změnil jednotky: ") + changes.join(QStringLiteral(", "));
}

void TFormPrubeh::cycleDone(const TrendSample &s, quint8 error)
{
    // The module's ranges were set anew (elsewhere, or it was replaced):
    // the chart starts new pieces, the statistics start again, the record
    // repeats its header, and the window says what changed.
    if (s.unitsKnown) {
        if (m_unitsKnown && s.units != m_units) {
            LabelJednotky->setText(stamp(s.time, QStringLiteral("HH:mm:ss ")) +
                                   unitChangeText(m_units, s.units));
            LabelJednotky->show();
        }
        m_units = s.units;
        m_unitsKnown = true;
    }
    m_history.append(s);
    if (m_recorder.isOpen() && !m_recorder.write(s))
        stopRecording(QStringLiteral(" Zápis do souboru %1 selhal: %2")
                          .arg(QDir::toNativeSeparators(m_recorder.fileName()), m_recorder.errorString()));

    if (s.analogValid) {
        for (std::size_t k = 0; k < ValueCount; ++k) {
            m_decimals[k] = s.decimals[k];
            setWhole(Hodnota[k], FormatFixed(static_cast<float>(s.values[k]), s.decimals[k]) +
                                     QStringLiteral(" ") + s.units[k]);
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

QString TFormPrubeh::askPath(const QString &proposed, const QString &title, const QString &filter)
{
    QString path;
    if (chooseFile) {
        path = chooseFile(this, proposed);
    } else {
        // The replace question is ours, with the same words everywhere.
        path = rq::saveFileName(this, title, proposed, filter, QFileDialog::DontConfirmOverwrite,
                                title == PictureText ? rq::FolderKind::Picture : rq::FolderKind::TrendRecord);
    }
    if (path.isEmpty())
        return {};
    // A dangling link is a name that exists too: saving would create its target.
    const QFileInfo info(path);
    if (info.exists() || info.isSymLink()) {
        const QString question =
            QStringLiteral("Soubor „%1“ už existuje.\nPřepsat ho? Jeho dosavadní obsah bude ztracen.")
                .arg(QDir::toNativeSeparators(path));
        if (!(ask ? ask(this, question) : askReplace(this, question)))
            return {};
    }
    return path;
}

void TFormPrubeh::Button3Click()
{
    if (m_recorder.isOpen()) {
        stopRecording(recordEndText());
        return;
    }
    const QString proposed =
        QDir::home().filePath(QStringLiteral("Prubeh_") +
                              stamp(now(), QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".csv"));
    const QString path = askPath(proposed, RecordText, QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) {
        m_recordPanel->setText(QStringLiteral(" Záznam nezahájen."));
        return;
    }
    // Units read meanwhile (the cycle went on under the file dialog) are in
    // the header; if still unknown, the first row that knows them repeats it.
    if (!m_recorder.open(path, m_cycle.units(), m_cycle.unitsKnown())) {
        m_recordPanel->setText(QStringLiteral(" Soubor nelze zapsat: ") + m_recorder.errorString());
        return;
    }
    Button3->setText(StopRecordText);
    m_recordPanel->setText(QStringLiteral(" Záznam do ") + QDir::toNativeSeparators(path));
}

QString TFormPrubeh::caption() const
{
    QString module =
        Data && !Data->identity.trimmed().isEmpty() ? Data->identity.trimmed() : QStringLiteral("Modul");
    const qint64 from = Chart1->from(), to = Chart1->to();
    const bool oneDay =
        QDateTime::fromMSecsSinceEpoch(from).date() == QDateTime::fromMSecsSinceEpoch(to).date();
    return QStringLiteral("%1, adresa %2, %3 až %4")
        .arg(module)
        .arg(address())
        .arg(stamp(from, QStringLiteral("d.M.yyyy HH:mm:ss")),
             stamp(to, oneDay ? QStringLiteral("HH:mm:ss") : QStringLiteral("d.M.yyyy HH:mm:ss")));
}

void TFormPrubeh::Button4Click()
{
    const QString proposed =
        QDir::home().filePath(QStringLiteral("Prubeh_") +
                              stamp(now(), QStringLiteral("yyyy-MM-dd_HH-mm-ss")) + QStringLiteral(".png"));
    QString path = askPath(proposed, PictureText, QStringLiteral("Obrázek PNG (*.png);;Obrázek SVG (*.svg)"));
    if (path.isEmpty())
        return;
    const QString suffix = QFileInfo(path).suffix().toLower();
    const QByteArray bytes = Chart1->image(suffix == u"svg" ? suffix : QStringLiteral("png"), caption());
    QString error;
    if (bytes.isEmpty())
        error = QStringLiteral("obrázek nelze vytvořit");
    else if (rq::saveWholeFile(path, bytes, &error))
        error.clear();
    else if (error.isEmpty())
        error = QStringLiteral("zápis selhal");
    m_recordPanel->setText(error.isEmpty()
                               ? QStringLiteral(" Obrázek uložen: ") + QDir::toNativeSeparators(path)
                               : QStringLiteral(" Obrázek nelze uložit: ") + error);
}

void TFormPrubeh::Button5Click()
{
    Chart1->goLive();
}

QString TFormPrubeh::recordEndText() const
{
    return QStringLiteral(" Záznam ukončen, řádků: %1, soubor %2")
        .arg(m_recorder.rows())
        .arg(QDir::toNativeSeparators(m_recorder.fileName()));
}

void TFormPrubeh::done(int result)
{
    if (m_recorder.isOpen()) {
        // Esc, "Cancel" and the close box alike: a record is never cut off
        // unasked. Reading and recording go on under the question.
        if (m_asking)
            return;
        const QString question = QStringLiteral("Ukončit záznam do souboru „%1“?")
                                     .arg(QDir::toNativeSeparators(m_recorder.fileName()));
        m_asking = true;
        const bool stop = ask ? ask(this, question) : rq::ask(this, windowTitle(), question);
        m_asking = false;
        if (!stop)
            return;
        if (m_recorder.isOpen())
            stopRecording(recordEndText());
    }
    TLiveDialog::done(result);
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

void TFormPrubeh::ComboBox1Change()
{
    Chart1->setWindow(windowLength(ComboBox1->currentIndex()));
    Chart1->goLive();
}

void TFormPrubeh::CheckBoxClick()
{
    refresh();
}

void TFormPrubeh::ListDinChange()
{
    quint32 ticked = 0;
    for (int n = 0; n < ListDin->count(); ++n)
        if (ListDin->item(n)->checkState() == Qt::Checked)
            ticked |= 1u << n;
    Chart1->tickedInputs = ticked;
    refresh();
}

void TFormPrubeh::ChartViewChange()
{
    Button5->setEnabled(!Chart1->isLive());
    statistics();
}

void TFormPrubeh::refresh()
{
    for (int c = 0; c < ValueCount; ++c) {
        const auto k = static_cast<std::size_t>(c);
        TTrendChart::Channel &ch = Chart1->channels[k];
        ch.shown = CheckBox[k]->isChecked();
        ch.unit = m_cycle.units()[k];
        ch.decimals = m_decimals[k];
    }
    Chart1->setWindow(windowLength(ComboBox1->currentIndex()));
    Chart1->setNow(m_paused ? m_pausedAt : now());
    statistics();
    fitSidePanel(); // a new axis or a wider number may need more room
}

void TFormPrubeh::statistics()
{
    const qint64 from = Chart1->from(), to = Chart1->to();
    // Each line over the stretch in view in which it has the unit of the
    // view's end: a changed unit starts its statistics again.
    const quint32 epoch = m_history.epochAt(to);
    const auto *units = m_history.unitsOf(epoch);
    std::map<quint32, TrendBucket> summaries;
    for (int c = 0; c < ValueCount; ++c) {
        const auto k = static_cast<std::size_t>(c);
        const quint32 since = m_history.sameUnitSince(c, epoch);
        auto it = summaries.find(since);
        if (it == summaries.end())
            it = summaries.emplace(since, m_history.summary(from, to, since)).first;
        const TrendBucket &all = it->second;
        if (!CheckBox[k]->isChecked() || all.analogCount == 0) {
            Minimum[k]->clear();
            Maximum[k]->clear();
            Prumer[k]->clear();
            continue;
        }
        const QString unit = QStringLiteral(" ") + (units ? (*units)[k] : m_cycle.units()[k]);
        setWhole(Minimum[k], FormatFixed(all.min[k], m_decimals[k]) + unit);
        setWhole(Maximum[k], FormatFixed(all.max[k], m_decimals[k]) + unit);
        setWhole(Prumer[k], FormatFixed(all.mean(c), m_decimals[k] + 1) + unit);
    }

    // Rows are made only when the changes in view are others: a time's
    // text asks the system for the local offset.
    const QList<TrendChange> changes = m_history.changes(from, to, ChangeRows);
    const auto same = [](const TrendChange &a, const TrendChange &b) {
        return a.time == b.time && a.input == b.input && a.state == b.state;
    };
    if (std::equal(changes.begin(), changes.end(), m_listed.begin(), m_listed.end(), same))
        return;
    m_listed = changes;
    QStringList rows;
    rows.reserve(changes.size());
    for (const TrendChange &ch : changes)
        rows << QStringLiteral("%1  DIN%2 → %3")
                    .arg(stamp(ch.time, QStringLiteral("HH:mm:ss")) + QLocale().decimalPoint() +
                         stamp(ch.time, QStringLiteral("zzz")))
                    .arg(ch.input)
                    .arg(int(ch.state));
    ListZmeny->clear();
    ListZmeny->addItems(rows);
}
