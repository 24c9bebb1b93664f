#include "diag/Diagnostika.h"

#include "PortMap.h"
#include "app/Dekl.h"
#include "app/Otazka.h"
#include "app/StatusBar.h"
#include "core/Cislo.h"
#include "core/Csv.h"
#include "core/Format.h"
#include "core/SafeSave.h"
#include "diag/LinkCheck.h"
#include "diag/LinkStats.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QLocale>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedBarSeries>
#include <QTabWidget>
#include <QTableWidget>
#include <QThread>
#include <QTimer>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

QString ms(quint32 us)
{
    return rq::fmt::decimal(us / 1000.0, us < 10000 ? 2 : 1);
}

QString hexBytes(const std::array<quint8, 5> &d)
{
    QStringList parts;
    for (quint8 b : d)
        parts << QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    return parts.join(QLatin1Char(' '));
}

// A bin by its upper end, short enough to stand under a bar.
QString binLabel(const LinkHistogramBin &bin)
{
    if (bin.toUs == 0)
        return QStringLiteral("víc");
    if (bin.toUs >= 1000)
        return QString::number(bin.toUs / 1000);
    return rq::fmt::decimal(bin.toUs / 1000.0, 1);
}

QTableWidget *table(QWidget *parent, const char *name, const QStringList &headers)
{
    auto *t = new QTableWidget(0, static_cast<int>(headers.size()), parent);
    t->setObjectName(QLatin1String(name));
    t->setHorizontalHeaderLabels(headers);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->setVisible(false);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setWordWrap(false);
    return t;
}

void setRow(QTableWidget *t, int row, const QStringList &cells)
{
    for (int c = 0; c < cells.size(); ++c)
        t->setItem(row, c, new QTableWidgetItem(cells.at(c)));
}

QString verdictText(CheckVerdict v)
{
    switch (v) {
    case CheckVerdict::Ok:
        return QStringLiteral("V pořádku");
    case CheckVerdict::Info:
        return QStringLiteral("Informace");
    case CheckVerdict::Warning:
        return QStringLiteral("Pozor");
    case CheckVerdict::Failed:
        break;
    }
    return QStringLiteral("Chyba");
}

const QStringList LogHeaders = {
    QStringLiteral("Čas"),    QStringLiteral("Adresa"),          QStringLiteral("Příkaz"),
    QStringLiteral("Podkód"), QStringLiteral("Odesláno D0..D4"), QStringLiteral("Přijato D0..D4"),
    QStringLiteral("Chyba"),  QStringLiteral("Doba [ms]")};

} // namespace

TFormDiagnostika::TFormDiagnostika(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormDiagnostika"));
    setWindowTitle(QStringLiteral("Diagnostika spojení"));
    setModal(false);
    resize(960, 780);
    serialFolder = QStringLiteral("/dev/serial/by-id");
    portMapFile = QString::fromLocal8Bit(rqports::portMapPath().c_str());

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));

    // Traffic page.
    auto *traffic = new QWidget(PageControl1);
    const auto label = [traffic](const char *name) {
        auto *l = new QLabel(traffic);
        l->setObjectName(QLatin1String(name));
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    SinceLabel = label("SinceLabel");
    TransactionsLabel = label("TransactionsLabel");
    ErrorsLabel = label("ErrorsLabel");
    ReplyTimesLabel = label("ReplyTimesLabel");
    ErrorTable = table(traffic, "ErrorTable",
                       {QStringLiteral("Kód"), QStringLiteral("Počet"), QStringLiteral("Text")});
    // Library error texts are long: wrapped in their column, whole in the tooltip.
    ErrorTable->setWordWrap(true);
    ErrorTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    ErrorTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    ErrorTable->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    RepliesSet = new QBarSet(QStringLiteral("Odpovědi"));
    ErrorsSet = new QBarSet(QStringLiteral("Chyby"));
    ErrorsSet->setColor(QColor(200, 40, 40));
    auto *series = new QStackedBarSeries;
    QStringList categories;
    for (const LinkHistogramBin &bin : LinkStats::instance().histogram()) {
        categories << binLabel(bin);
        RepliesSet->append(0);
        ErrorsSet->append(0);
    }
    series->append(RepliesSet);
    series->append(ErrorsSet);
    auto *chart = new QChart;
    chart->addSeries(series);
    chart->setTitle(QStringLiteral("Doba transakce do [ms]"));
    auto *axisX = new QBarCategoryAxis;
    axisX->append(categories);
    axisX->setLabelsAngle(-90);
    // Qt would shorten every label to "…" once one no longer fits.
    axisX->setTruncateLabels(false);
    chart->addAxis(axisX, Qt::AlignBottom);
    series->attachAxis(axisX);
    auto *axisY = new QValueAxis;
    axisY->setLabelFormat(QStringLiteral("%d"));
    axisY->setTitleText(QStringLiteral("Počet"));
    axisY->setTruncateLabels(false);
    chart->addAxis(axisY, Qt::AlignLeft);
    series->attachAxis(axisY);
    chart->legend()->setAlignment(Qt::AlignBottom);
    HistogramChart = new QChartView(chart, traffic);
    HistogramChart->setObjectName(QStringLiteral("HistogramChart"));
    HistogramChart->setRenderHint(QPainter::Antialiasing);
    HistogramChart->setMinimumHeight(260);
    LogAxisCheckBox = new QCheckBox(QStringLiteral("Logaritmická osa"), traffic);
    LogAxisCheckBox->setObjectName(QStringLiteral("LogAxisCheckBox"));
    LogAxisCheckBox->setToolTip(QStringLiteral("Počty v logaritmickém měřítku: i jediná chyba vedle tisíců "
                                               "odpovědí je vidět"));

    // When the link went bad: replies and errors in each second of the last
    // ten minutes.
    RepliesRate = new QLineSeries;
    RepliesRate->setName(QStringLiteral("Odpovědi/s"));
    ErrorsRate = new QLineSeries;
    ErrorsRate->setName(QStringLiteral("Chyby/s"));
    ErrorsRate->setColor(QColor(200, 40, 40));
    auto *rateChart = new QChart;
    rateChart->addSeries(RepliesRate);
    rateChart->addSeries(ErrorsRate);
    rateChart->setTitle(QStringLiteral("Za sekundu, posledních 10 minut"));
    auto *rateTime = new QDateTimeAxis;
    rateTime->setFormat(QStringLiteral("HH:mm"));
    rateTime->setTickCount(6);
    rateChart->addAxis(rateTime, Qt::AlignBottom);
    auto *rateCount = new QValueAxis;
    rateCount->setLabelFormat(QStringLiteral("%d"));
    rateCount->setTruncateLabels(false);
    rateChart->addAxis(rateCount, Qt::AlignLeft);
    for (QLineSeries *line : {RepliesRate, ErrorsRate}) {
        line->attachAxis(rateTime);
        line->attachAxis(rateCount);
    }
    rateChart->legend()->setAlignment(Qt::AlignBottom);
    rateChart->setMargins(QMargins(2, 2, 2, 2));
    RateChart = new QChartView(rateChart, traffic);
    RateChart->setObjectName(QStringLiteral("RateChart"));
    RateChart->setRenderHint(QPainter::Antialiasing);
    RateChart->setMinimumHeight(160);

    LogTable = table(traffic, "LogTable", LogHeaders);
    // Fixed widths: sizing 1000 rows to their contents on every refresh would cost more than the rows.
    const int bytesWidth = LogTable->fontMetrics().horizontalAdvance(LogHeaders.at(4)) + 16;
    for (int c : {0, 4, 5})
        LogTable->setColumnWidth(c, bytesWidth);
    for (int c : {1, 2, 3, 6})
        LogTable->setColumnWidth(c, bytesWidth / 2);
    ErrorsOnlyCheckBox = new QCheckBox(QStringLiteral("Jen chyby"), traffic);
    ErrorsOnlyCheckBox->setObjectName(QStringLiteral("ErrorsOnlyCheckBox"));
    ResetButton = new QPushButton(QStringLiteral("Vynulovat"), traffic);
    ResetButton->setObjectName(QStringLiteral("ResetButton"));
    ExportButton = new QPushButton(QStringLiteral("Export do CSV…"), traffic);
    ExportButton->setObjectName(QStringLiteral("ExportButton"));

    auto *counters = new QGridLayout;
    counters->addWidget(SinceLabel, 0, 0);
    counters->addWidget(TransactionsLabel, 1, 0);
    counters->addWidget(ErrorsLabel, 2, 0);
    counters->addWidget(ReplyTimesLabel, 3, 0);
    counters->addWidget(ErrorTable, 4, 0);
    counters->setRowStretch(4, 1);
    auto *top = new QHBoxLayout;
    top->addLayout(counters, 2);
    auto *charts = new QVBoxLayout;
    charts->addWidget(HistogramChart, 5);
    charts->addWidget(LogAxisCheckBox);
    charts->addWidget(RateChart, 3);
    top->addLayout(charts, 3);
    auto *logButtons = new QHBoxLayout;
    logButtons->addWidget(ErrorsOnlyCheckBox);
    logButtons->addStretch();
    logButtons->addWidget(ResetButton);
    logButtons->addWidget(ExportButton);
    auto *trafficLayout = new QVBoxLayout(traffic);
    trafficLayout->addLayout(top, 3);
    trafficLayout->addWidget(LogTable, 2);
    trafficLayout->addLayout(logButtons);
    PageControl1->addTab(traffic, QStringLiteral("Provoz"));

    // Checks page.
    auto *checks = new QWidget(PageControl1);
    CheckButton = new QPushButton(QStringLiteral("Zkontrolovat spojení"), checks);
    CheckButton->setObjectName(QStringLiteral("CheckButton"));
    CheckReasonLabel = new QLabel(checks);
    CheckReasonLabel->setObjectName(QStringLiteral("CheckReasonLabel"));
    CheckReasonLabel->setTextFormat(Qt::PlainText);
    CheckReasonLabel->setWordWrap(true);
    CheckReasonLabel->setVisible(false);
    CheckAddressEdit = new QLineEdit(checks);
    CheckAddressEdit->setObjectName(QStringLiteral("CheckAddressEdit"));
    CheckAddressEdit->setMaximumWidth(60);
    CheckBaudComboBox = new QComboBox(checks);
    CheckBaudComboBox->setObjectName(QStringLiteral("CheckBaudComboBox"));
    CheckBaudComboBox->addItems(BaudItems);
    CheckTable = table(checks, "CheckTable",
                       {QStringLiteral("Kontrola"), QStringLiteral("Výsledek"), QStringLiteral("Zjištění"),
                        QStringLiteral("Co dělat")});
    CheckTable->setWordWrap(true);
    CheckTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    CheckTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    CheckTable->horizontalHeader()->setSectionResizeMode(2, QHeaderView::Stretch);
    CheckTable->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    DeviceTable =
        table(checks, "DeviceTable",
              {QStringLiteral("Stálý název"), QStringLiteral("Nyní zařízení"), QStringLiteral("Port")});
    DeviceTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    DeviceTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    DeviceTable->horizontalHeader()->setStretchLastSection(false);
    PortComboBox = new QComboBox(checks);
    PortComboBox->setObjectName(QStringLiteral("PortComboBox"));
    for (int n = 1; n <= 16; ++n)
        PortComboBox->addItem(QStringLiteral("COM%1").arg(n));
    PortComboBox->addItem(QStringLiteral("USB"));
    AssignButton = new QPushButton(QStringLiteral("Přiřadit portu"), checks);
    AssignButton->setObjectName(QStringLiteral("AssignButton"));
    auto *deviceLabel =
        new QLabel(QStringLiteral("Sériová zařízení se stálými názvy (soubor porty.ini)"), checks);
    auto *assign = new QHBoxLayout;
    assign->addStretch();
    assign->addWidget(PortComboBox);
    assign->addWidget(AssignButton);
    auto *checkLayout = new QVBoxLayout(checks);
    auto *checkTop = new QHBoxLayout;
    checkTop->addWidget(new QLabel(QStringLiteral("Adresa modulu"), checks));
    checkTop->addWidget(CheckAddressEdit);
    checkTop->addWidget(new QLabel(QStringLiteral("Rychlost"), checks));
    checkTop->addWidget(CheckBaudComboBox);
    checkTop->addWidget(CheckButton);
    checkTop->addWidget(CheckReasonLabel, 1);
    checkTop->addStretch();
    checkLayout->addLayout(checkTop);
    checkLayout->addWidget(CheckTable, 3);
    checkLayout->addWidget(deviceLabel);
    checkLayout->addWidget(DeviceTable, 1);
    checkLayout->addLayout(assign);
    PageControl1->addTab(checks, QStringLiteral("Kontrola spojení"));

    CloseButton = new QPushButton(QStringLiteral("Zavřít"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->setAutoDefault(false);
    StatusBar1 = new TStatusBar({0}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    auto *bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(CloseButton);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(PageControl1);
    layout->addLayout(bottom);
    layout->addWidget(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TFormDiagnostika::Timer1Timer);
    connect(ResetButton, &QPushButton::clicked, this, &TFormDiagnostika::ResetButtonClick);
    connect(ExportButton, &QPushButton::clicked, this, &TFormDiagnostika::ExportButtonClick);
    connect(ErrorsOnlyCheckBox, &QCheckBox::clicked, this, &TFormDiagnostika::ErrorsOnlyCheckBoxClick);
    connect(LogAxisCheckBox, &QCheckBox::clicked, this, &TFormDiagnostika::LogAxisCheckBoxClick);
    connect(CheckButton, &QPushButton::clicked, this, &TFormDiagnostika::CheckButtonClick);
    connect(AssignButton, &QPushButton::clicked, this, &TFormDiagnostika::AssignButtonClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::close);

    // No button is the default: an Enter meant for a field or a file dialog
    // must never wipe the counters or start anything.
    for (QPushButton *button : findChildren<QPushButton *>()) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    chooseFile = [this]() -> std::optional<QString> {
        const QString path =
            rq::saveFileName(this, QStringLiteral("Export transakcí"), QStringLiteral("transakce.csv"),
                             QStringLiteral("Soubory CSV (*.csv)"), {}, rq::FolderKind::LinkLog);
        if (path.isEmpty())
            return std::nullopt;
        return path;
    };
}

void TFormDiagnostika::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    if (!m_targetSet && Data)
        setCheckTarget(Data->moduleAddress, Data->baudRate);
    Timer1Timer();
    RefreshDevices();
    Timer1->start();
}

void TFormDiagnostika::setCheckTarget(quint8 address, quint32 baud)
{
    m_targetSet = true;
    CheckAddressEdit->setText(QString::number(address));
    CheckBaudComboBox->setCurrentIndex(BaudIndexOfRate(baud));
}

void TFormDiagnostika::setOtherDialogOpen(bool open)
{
    m_otherDialogOpen = open;
    updateCheckButton();
}

void TFormDiagnostika::updateCheckButton()
{
    CheckButton->setEnabled(!m_otherDialogOpen && !m_checking);
    CheckButton->setToolTip(
        m_otherDialogOpen
            ? QStringLiteral(
                  "Kontrolu nelze spustit, dokud je otevřen jiný dialog: posílá dotazy po jeho "
                  "připojení a může přitom změnit komunikační rychlost. Zavřete nejdříve ten dialog.")
            : QString());
    // A greyed button alone does not say why; a tooltip needs the pointer resting on it.
    CheckReasonLabel->setText(m_otherDialogOpen ? CheckWaitsText : QString());
    CheckReasonLabel->setVisible(m_otherDialogOpen);
}

void TFormDiagnostika::Timer1Timer()
{
    const LinkStats &s = LinkStats::instance();
    SinceLabel->setText(
        (s.restartedByUser() ? QStringLiteral("Od vynulování: %1") : QStringLiteral("Od připojení: %1"))
            .arg(rq::fmt::dateTime(QDateTime::fromMSecsSinceEpoch(s.since()))));
    TransactionsLabel->setText(QStringLiteral("Transakcí: %1").arg(s.transactions()));
    const double share = s.transactions()
                             ? 100.0 * static_cast<double>(s.errors()) / static_cast<double>(s.transactions())
                             : 0.0;
    ErrorsLabel->setText(QStringLiteral("Chyb: %1 (%2)").arg(s.errors()).arg(rq::fmt::percent(share, 1)));
    ReplyTimesLabel->setText(
        s.replies()
            ? QStringLiteral("Doba odpovědi [ms]: min %1, medián %2, 95 % %3, max %4")
                  .arg(ms(s.minUs()), ms(s.percentileUs(0.5)), ms(s.percentileUs(0.95)), ms(s.maxUs()))
            : QStringLiteral("Doba odpovědi: zatím žádná odpověď"));
    fillRates(); // its time moves on also without traffic
    if (s.transactions() == m_shownTransactions && s.since() == m_shownSince)
        return;
    m_shownTransactions = s.transactions();
    m_shownSince = s.since();

    const QList<LinkErrorCount> errors = s.errorCounts();
    ErrorTable->setRowCount(static_cast<int>(errors.size()));
    for (int i = 0; i < errors.size(); ++i) {
        setRow(ErrorTable, i,
               {QString::number(errors[i].code), QString::number(errors[i].count), errors[i].text});
        ErrorTable->item(i, 2)->setToolTip(errors[i].text);
    }
    const QList<LinkHistogramBin> bins = s.histogram();
    // On the logarithmic axis a count n stands at 1 + log10(n), 0 at 0: a
    // single error is a bar as high as the step from 1 to 10.
    const bool logarithmic = LogAxisCheckBox->isChecked();
    const auto height = [logarithmic](quint64 n) {
        return !logarithmic ? static_cast<qreal>(n) : n == 0 ? 0.0 : 1.0 + std::log10(static_cast<double>(n));
    };
    quint64 highest = 1;
    for (int i = 0; i < bins.size(); ++i) {
        RepliesSet->replace(i, height(bins[i].replies));
        ErrorsSet->replace(i, height(bins[i].replies + bins[i].errors) - height(bins[i].replies));
        highest = std::max(highest, bins[i].replies + bins[i].errors);
    }
    QAbstractAxis *counts = HistogramChart->chart()->axes(Qt::Vertical).value(0);
    if (auto *axis = qobject_cast<QCategoryAxis *>(counts)) {
        // Labels 0, 1, 10, 100 ... at their places, up to the decade above the highest count.
        for (const QString &label : axis->categoriesLabels())
            axis->remove(label);
        int decades = 1;
        for (quint64 power = 1; power < highest; power *= 10)
            ++decades;
        axis->append(QStringLiteral("0"), 0);
        quint64 power = 1;
        for (int k = 1; k <= decades; ++k, power *= 10)
            axis->append(rq::fmt::count(power), k);
        axis->setRange(0, decades);
    } else if (auto *linear = qobject_cast<QValueAxis *>(counts)) {
        // Ticks at whole counts only: a tick between 1 and 2 would read "1" twice.
        const CountScale scale = countScale(highest);
        linear->setRange(0, static_cast<qreal>(scale.top));
        linear->setTickCount(scale.ticks);
    }
    fillLog();
}

void TFormDiagnostika::fillRates()
{
    const qint64 now = wallClock ? wallClock() : QDateTime::currentMSecsSinceEpoch();
    const QList<LinkRate> rates = LinkStats::instance().rates(now);
    QList<QPointF> replies, errors;
    replies.reserve(rates.size());
    errors.reserve(rates.size());
    quint32 highest = 1;
    for (const LinkRate &r : rates) {
        const qreal x = static_cast<qreal>(r.second * 1000);
        replies.append({x, static_cast<qreal>(r.replies)});
        errors.append({x, static_cast<qreal>(r.errors)});
        highest = std::max({highest, r.replies, r.errors});
    }
    RepliesRate->replace(replies);
    ErrorsRate->replace(errors);
    QChart *chart = RateChart->chart();
    if (auto *time = qobject_cast<QDateTimeAxis *>(chart->axes(Qt::Horizontal).value(0)))
        time->setRange(QDateTime::fromMSecsSinceEpoch(now - LinkStats::RateSeconds * 1000LL),
                       QDateTime::fromMSecsSinceEpoch(now));
    if (auto *count = qobject_cast<QValueAxis *>(chart->axes(Qt::Vertical).value(0))) {
        // Four whole steps: the labels are counts.
        count->setTickCount(5);
        count->setRange(0, (highest + 3) / 4 * 4);
    }
}

void TFormDiagnostika::LogAxisCheckBoxClick()
{
    QChart *chart = HistogramChart->chart();
    QAbstractSeries *series = chart->series().value(0);
    for (QAbstractAxis *old : chart->axes(Qt::Vertical)) {
        series->detachAxis(old);
        chart->removeAxis(old);
        delete old;
    }
    QAbstractAxis *axis = nullptr;
    if (LogAxisCheckBox->isChecked()) {
        auto *log = new QCategoryAxis;
        log->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        axis = log;
    } else {
        auto *linear = new QValueAxis;
        linear->setLabelFormat(QStringLiteral("%d"));
        axis = linear;
    }
    axis->setTitleText(QStringLiteral("Počet"));
    axis->setTruncateLabels(false);
    chart->addAxis(axis, Qt::AlignLeft);
    series->attachAxis(axis);
    m_shownTransactions = ~0ull; // redraw the bars on the new scale
    Timer1Timer();
}

void TFormDiagnostika::fillLog()
{
    const QList<LinkTransaction> log = LinkStats::instance().log();
    const bool errorsOnly = ErrorsOnlyCheckBox->isChecked();
    LogTable->setUpdatesEnabled(false);
    LogTable->setRowCount(0);
    int row = 0;
    // Newest first: the table shows what just happened without scrolling.
    for (auto it = log.crbegin(); it != log.crend(); ++it) {
        if (errorsOnly && it->error == 0)
            continue;
        LogTable->insertRow(row);
        setRow(LogTable, row,
               {QDateTime::fromMSecsSinceEpoch(it->time).toString(QStringLiteral("HH:mm:ss.zzz")),
                QString::number(it->address), QString::number(it->command), QString::number(it->subCode),
                hexBytes(it->sent), hexBytes(it->received), QString::number(it->error), ms(it->durationUs)});
        ++row;
    }
    LogTable->setUpdatesEnabled(true);
}

void TFormDiagnostika::ResetButtonClick()
{
    if (!rq::ask(this, windowTitle(),
                 QStringLiteral("Vynulovat počítadla, histogram a záznam transakcí?\n\n"
                                "Dosavadní údaje o spojení budou ztraceny; uložit je lze tlačítkem "
                                "„Export do CSV…“.")))
        return;
    LinkStats::instance().restart(true);
    Timer1Timer();
    StatusBar1->setText(0, QStringLiteral(" Počítadla vynulována."));
}

void TFormDiagnostika::ErrorsOnlyCheckBoxClick()
{
    fillLog();
}

bool TFormDiagnostika::ExportCsv(const QString &path)
{
    QStringList headers = LogHeaders;
    headers.insert(7, QStringLiteral("Text chyby"));
    QString text = QChar(0xFEFF) + rq::csv::line(headers);
    const LinkStats &s = LinkStats::instance();
    const QList<LinkErrorCount> errors = s.errorCounts();
    for (const LinkTransaction &t : s.log()) {
        QString errorText;
        for (const LinkErrorCount &e : errors)
            if (e.code == t.error)
                errorText = e.text;
        text += rq::csv::line({rq::csv::timestamp(t.time), QString::number(t.address),
                               QString::number(t.command), QString::number(t.subCode), hexBytes(t.sent),
                               hexBytes(t.received), QString::number(t.error), rq::csv::field(errorText),
                               rq::csv::number(t.durationUs / 1000.0, 3)});
    }
    return rq::saveWholeFile(path, text.toUtf8());
}

TFormDiagnostika::CountScale TFormDiagnostika::countScale(quint64 highest)
{
    // Steps of 1, 2, 5, 10, 20, 50 ...: the smallest that needs at most five.
    constexpr quint64 MostSteps = 5;
    highest = std::max<quint64>(highest, 1);
    quint64 step = 1;
    for (quint64 decade = 1;; decade *= 10) {
        const quint64 candidates[] = {decade, 2 * decade, 5 * decade};
        const auto fits = std::find_if(std::begin(candidates), std::end(candidates),
                                       [highest](quint64 c) { return (highest + c - 1) / c <= MostSteps; });
        if (fits != std::end(candidates)) {
            step = *fits;
            break;
        }
    }
    const quint64 steps = (highest + step - 1) / step;
    return {steps * step, static_cast<int>(steps) + 1};
}

void TFormDiagnostika::ExportButtonClick()
{
    const std::optional<QString> path = chooseFile ? chooseFile() : std::nullopt;
    if (!path)
        return;
    StatusBar1->setText(0, ExportCsv(*path)
                               ? QStringLiteral(" Záznam uložen do %1.").arg(*path)
                               : QStringLiteral(" Záznam se nepodařilo uložit do %1.").arg(*path));
}

void TFormDiagnostika::CheckButtonClick()
{
    if (!Data || m_checking || m_otherDialogOpen)
        return;
    if (!m_targetSet)
        setCheckTarget(Data->moduleAddress, Data->baudRate);
    const std::optional<qint32> address = ParseIntText(CheckAddressEdit->text());
    if (!address || *address < 0 || *address > 255) {
        StatusBar1->setText(0, QStringLiteral(" Neplatná adresa modulu (0 až 255)."));
        return;
    }
    CheckTable->setRowCount(0);
    m_checking = true;
    updateCheckButton();
    StatusBar1->setText(0, QStringLiteral(" Probíhá kontrola spojení…"));
    const QString device = DevicePathToCheck(*Data);
    if (device.isEmpty()) {
        runChecks(std::nullopt);
        return;
    }
    // Who holds the port is read from every process in /proc: on a worker
    // thread, so that the window answers meanwhile; the rest follows here.
    QPointer<TFormDiagnostika> self(this);
    const auto check =
        holdersCheck ? holdersCheck : [](const QString &path) { return CheckDeviceHolders(path); };
    QThread *worker = QThread::create([self, check, device] {
        const CheckStep holders = check(device);
        QMetaObject::invokeMethod(
            qApp,
            [self, holders] {
                if (self)
                    self->runChecks(holders);
            },
            Qt::QueuedConnection);
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

void TFormDiagnostika::runChecks(const std::optional<CheckStep> &holders)
{
    if (m_otherDialogOpen) {
        // A dialog opened while the port was looked at: it has the connection now.
        m_checking = false;
        updateCheckButton();
        StatusBar1->setText(0, QStringLiteral(" Kontrola přerušena: pracuje jiný dialog."));
        return;
    }
    const auto address = static_cast<quint8>(ParseIntText(CheckAddressEdit->text()).value_or(0));
    const quint32 baud = BaudRateOfIndex(CheckBaudComboBox->currentIndex());
    // The module checks run without processing window messages, like the
    // connection setup: no other dialog can start while they use the adapter.
    RunLinkChecks(
        *Data, address, baud,
        [this](const CheckStep &step) {
            const int row = CheckTable->rowCount();
            CheckTable->insertRow(row);
            setRow(CheckTable, row, {step.name, verdictText(step.verdict), step.text, step.advice});
            if (step.verdict == CheckVerdict::Failed)
                CheckTable->item(row, 1)->setForeground(QColor(200, 0, 0));
            CheckTable->resizeRowToContents(row);
            CheckTable->repaint();
        },
        holders);
    m_checking = false;
    updateCheckButton();
    StatusBar1->setText(0, QStringLiteral(" Kontrola skončila."));
    RefreshDevices();
}

void TFormDiagnostika::RefreshDevices()
{
    const rqports::PortMap map = rqports::readPortMap(QFile::encodeName(portMapFile).toStdString());
    const QList<SerialDevice> devices = ListSerialDevices(serialFolder);
    DeviceTable->setRowCount(static_cast<int>(devices.size()));
    for (int i = 0; i < devices.size(); ++i) {
        QStringList ports;
        for (const auto &[key, value] : map)
            if (QString::fromLocal8Bit(value.c_str()) == devices[i].stableName)
                ports << QString::fromLatin1(key.c_str());
        setRow(DeviceTable, i, {devices[i].stableName, devices[i].device, ports.join(QStringLiteral(", "))});
    }
    AssignButton->setEnabled(!devices.isEmpty());
}

void TFormDiagnostika::AssignButtonClick()
{
    const int row = DeviceTable->currentRow();
    if (row < 0 || !DeviceTable->item(row, 0)) {
        StatusBar1->setText(0, QStringLiteral(" Vyberte v seznamu zařízení."));
        return;
    }
    const std::string file = QFile::encodeName(portMapFile).toStdString();
    rqports::PortMap map = rqports::readPortMap(file);
    const QString key = PortComboBox->currentText();
    const QString device = DeviceTable->item(row, 0)->text();
    map[key.toStdString()] = QFile::encodeName(device).toStdString();
    if (!rqports::writePortMap(file, map)) {
        StatusBar1->setText(0, QStringLiteral(" Soubor %1 se nepodařilo zapsat.").arg(portMapFile));
        return;
    }
    StatusBar1->setText(
        0, QStringLiteral(" %1 je nyní %2 (platí od příští inicializace připojení).").arg(key, device));
    RefreshDevices();
}
