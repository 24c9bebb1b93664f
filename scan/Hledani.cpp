#include "scan/Hledani.h"

#include "app/Dekl.h"
#include "app/Otazka.h"
#include "app/StatusBar.h"
#include "core/Csv.h"
#include "core/SafeSave.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QSpinBox>
#include <QTableWidget>
#include <QThread>

#include <atomic>

namespace {
QString minutes(qint64 ms)
{
    const qint64 s = (ms + 500) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

enum Column { AddressColumn, BaudColumn, ModelColumn, FirmwareColumn, ReplyColumn, NoteColumn, ColumnCount };
} // namespace

// Carries the reports of the search thread to the dialog, queued, and the
// stop request back.
class TFormHledani::Bridge : public ScanReport
{
public:
    explicit Bridge(TFormHledani *dialog) : m_dialog(dialog) {}

    std::atomic<bool> stop{false};
    std::atomic<int> probes{0};

    void probe(quint8, quint32) override { ++probes; }
    void found(const ScanFinding &f) override
    {
        QMetaObject::invokeMethod(
            m_dialog, [d = m_dialog, f] { d->addFinding(f); }, Qt::QueuedConnection);
    }
    void progress(const ScanProgress &p) override
    {
        QMetaObject::invokeMethod(
            m_dialog, [d = m_dialog, p] { d->showProgress(p); }, Qt::QueuedConnection);
    }
    bool cancelled() const override { return stop; }

private:
    TFormHledani *m_dialog;
};

TFormHledani::TFormHledani(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormHledani"));
    setWindowTitle(QStringLiteral("Hledání modulů"));
    const auto named = [](auto *w, const char *name) {
        w->setObjectName(QLatin1String(name));
        return w;
    };

    RozhraniCombo = named(new QComboBox(this), "RozhraniCombo");
    RozhraniCombo->addItems(AdapterItems());
    ParametrLabel = named(new QLabel(this), "ParametrLabel");
    ParametrEdit = named(new QLineEdit(this), "ParametrEdit");
    UdpPortLabel = named(new QLabel(QStringLiteral("UDP port"), this), "UdpPortLabel");
    UdpPortEdit = named(new QLineEdit(this), "UdpPortEdit");
    UdpTimeoutLabel = named(new QLabel(QStringLiteral("UDP timeout"), this), "UdpTimeoutLabel");
    UdpTimeoutEdit = named(new QLineEdit(this), "UdpTimeoutEdit");
    for (QWidget *w : std::initializer_list<QWidget *>{ParametrLabel, ParametrEdit, UdpPortLabel, UdpPortEdit,
                                                       UdpTimeoutLabel, UdpTimeoutEdit}) {
        QSizePolicy p = w->sizePolicy();
        p.setRetainSizeWhenHidden(true);
        w->setSizePolicy(p);
    }
    AdresyEdit = named(new QLineEdit(QStringLiteral("0-255"), this), "AdresyEdit");
    AdresyEdit->setToolTip(QStringLiteral("Adresy a rozsahy oddělené čárkou, například 1,5,10-20"));
    RezervaSpin = named(new QSpinBox(this), "RezervaSpin");
    RezervaSpin->setRange(0, 1000);
    RezervaSpin->setSuffix(QStringLiteral(" ms"));
    RezervaSpin->setToolTip(
        QStringLiteral("Čas navíc ke každému dotazu, například pro LAN konvertor ve vzdálené síti"));

    auto *adapter = new QGridLayout;
    int row = 0;
    const auto addRow = [&](const QString &caption, QWidget *w, QLabel *label = nullptr) {
        adapter->addWidget(label ? label : new QLabel(caption, this), row, 0);
        adapter->addWidget(w, row, 1);
        ++row;
    };
    addRow(QStringLiteral("Komunikační rozhraní"), RozhraniCombo);
    addRow({}, ParametrEdit, ParametrLabel);
    addRow({}, UdpPortEdit, UdpPortLabel);
    addRow({}, UdpTimeoutEdit, UdpTimeoutLabel);
    addRow(QStringLiteral("Adresy modulů"), AdresyEdit);
    addRow(QStringLiteral("Rezerva odpovědi"), RezervaSpin);
    adapter->setColumnStretch(1, 1);

    // One check box per rate, in the order they are searched.
    auto *rates = new QGroupBox(QStringLiteral("Komunikační rychlosti"), this);
    auto *ratesGrid = new QGridLayout(rates);
    const QList<quint32> bauds = DefaultScanBauds();
    for (qsizetype i = 0; i < bauds.size(); ++i) {
        auto *box = new QCheckBox(BaudItems.at(BaudIndexOfRate(bauds.at(i))), rates);
        box->setObjectName(QStringLiteral("RychlostCheck%1").arg(bauds.at(i)));
        box->setChecked(true);
        ratesGrid->addWidget(box, static_cast<int>(i / 3), static_cast<int>(i % 3));
        RychlostChecks.append(box);
    }

    HledatButton = named(new QPushButton(QStringLiteral("Hledat"), this), "HledatButton");
    ZastavitButton = named(new QPushButton(QStringLiteral("Zastavit"), this), "ZastavitButton");
    PrubehBar = named(new QProgressBar(this), "PrubehBar");
    PrubehBar->setRange(0, 1);
    PrubehBar->setValue(0);
    CasLabel = named(new QLabel(this), "CasLabel");

    NalezeneTable = named(new QTableWidget(0, ColumnCount, this), "NalezeneTable");
    NalezeneTable->setHorizontalHeaderLabels({QStringLiteral("Adresa"), QStringLiteral("Rychlost"),
                                              QStringLiteral("Model"), QStringLiteral("Firmware"),
                                              QStringLiteral("Doba odpovědi"), QStringLiteral("Poznámka")});
    NalezeneTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    NalezeneTable->setSelectionMode(QAbstractItemView::SingleSelection);
    NalezeneTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    NalezeneTable->verticalHeader()->setVisible(false);
    NalezeneTable->horizontalHeader()->setStretchLastSection(true);
    NalezeneTable->setMinimumSize(560, 180);

    KopirovatButton = named(new QPushButton(QStringLiteral("Kopírovat"), this), "KopirovatButton");
    ExportButton = named(new QPushButton(QStringLiteral("Export CSV…"), this), "ExportButton");
    PripojitButton = named(new QPushButton(QStringLiteral("Připojit"), this), "PripojitButton");
    ZavritButton = named(new QPushButton(QStringLiteral("Zavřít"), this), "ZavritButton");
    for (QPushButton *b :
         {HledatButton, ZastavitButton, KopirovatButton, ExportButton, PripojitButton, ZavritButton})
        b->setAutoDefault(false);

    StatusBar1 = new TStatusBar({0}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);

    auto *top = new QHBoxLayout;
    top->addLayout(adapter, 1);
    top->addWidget(rates);
    auto *run = new QHBoxLayout;
    run->addWidget(HledatButton);
    run->addWidget(ZastavitButton);
    run->addWidget(PrubehBar, 1);
    run->addWidget(CasLabel);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(KopirovatButton);
    bottom->addWidget(ExportButton);
    bottom->addStretch();
    bottom->addWidget(PripojitButton);
    bottom->addWidget(ZavritButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(run);
    layout->addWidget(NalezeneTable, 1);
    layout->addLayout(bottom);
    layout->addWidget(StatusBar1);

    connect(RozhraniCombo, &QComboBox::currentIndexChanged, this, &TFormHledani::RozhraniComboChange);
    connect(HledatButton, &QPushButton::clicked, this, &TFormHledani::HledatClick);
    connect(ZastavitButton, &QPushButton::clicked, this, &TFormHledani::ZastavitClick);
    connect(KopirovatButton, &QPushButton::clicked, this, &TFormHledani::KopirovatClick);
    connect(ExportButton, &QPushButton::clicked, this, &TFormHledani::ExportClick);
    connect(PripojitButton, &QPushButton::clicked, this, &TFormHledani::PripojitClick);
    connect(ZavritButton, &QPushButton::clicked, this, &TFormHledani::ZavritClick);
    // An input error on screen goes once the input is right again.
    for (QLineEdit *edit : {ParametrEdit, UdpPortEdit, UdpTimeoutEdit, AdresyEdit})
        connect(edit, &QLineEdit::textChanged, this, &TFormHledani::recheckInput);
    for (QCheckBox *box : RychlostChecks)
        connect(box, &QCheckBox::toggled, this, &TFormHledani::recheckInput);
    connect(RozhraniCombo, &QComboBox::currentIndexChanged, this, &TFormHledani::recheckInput);
    connect(NalezeneTable, &QTableWidget::itemSelectionChanged, this,
            [this] { PripojitButton->setEnabled(!searching() && NalezeneTable->currentRow() >= 0); });
    setSearching(false);
}

TFormHledani::~TFormHledani()
{
    stopAndWait();
}

void TFormHledani::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFormHledani::done(int result)
{
    // The search holds the adapter: it ends (after the probe in flight) first.
    stopAndWait();
    QDialog::done(result);
}

void TFormHledani::stopAndWait()
{
    if (!m_thread)
        return;
    m_bridge->stop = true;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_statsPause.reset();
}

bool TFormHledani::searching() const
{
    return m_thread != nullptr;
}

int TFormHledani::probesSent() const
{
    return m_bridge ? m_bridge->probes.load() : 0;
}

void TFormHledani::setStatus(const QString &text)
{
    StatusBar1->setText(0, text);
}

void TFormHledani::FormShow()
{
    if (!Data)
        return;
    const int kind = Data->adapterKind <= 4 ? Data->adapterKind : 0;
    {
        const QSignalBlocker block(RozhraniCombo);
        RozhraniCombo->setCurrentIndex(kind);
    }
    showAdapterFields(kind);
    setStatus(QStringLiteral(" "));
}

void TFormHledani::showAdapterFields(int kind)
{
    const bool lan = kind == 4;
    const bool field = kind == 0 || kind == 1 || lan;
    ParametrLabel->setVisible(field);
    ParametrEdit->setVisible(field);
    for (QWidget *w : {static_cast<QWidget *>(UdpPortLabel), static_cast<QWidget *>(UdpPortEdit),
                       static_cast<QWidget *>(UdpTimeoutLabel), static_cast<QWidget *>(UdpTimeoutEdit)})
        w->setVisible(lan);
    if (!Data)
        return;
    const AdapterSettings s = AdapterSettingsOf(*Data);
    ParametrLabel->setText(AdapterFieldCaption(kind));
    ParametrEdit->setText(AdapterFieldText(s, kind));
    UdpPortEdit->setText(QString::number(s.udpPort));
    UdpTimeoutEdit->setText(QString::number(s.udpTimeout));
}

void TFormHledani::RozhraniComboChange()
{
    showAdapterFields(RozhraniCombo->currentIndex());
}

void TFormHledani::setSearching(bool on)
{
    for (QWidget *w :
         std::initializer_list<QWidget *>{RozhraniCombo, ParametrEdit, UdpPortEdit, UdpTimeoutEdit,
                                          AdresyEdit, RezervaSpin, HledatButton, ExportButton})
        w->setEnabled(!on);
    for (QCheckBox *box : RychlostChecks)
        box->setEnabled(!on);
    ZastavitButton->setEnabled(on);
    PripojitButton->setEnabled(!on && NalezeneTable->currentRow() >= 0);
}

bool TFormHledani::ask(const QString &question)
{
    if (askQuestion)
        return askQuestion(question);
    return rq::ask(this, windowTitle(), question);
}

void TFormHledani::HledatClick()
{
    if (!Data || searching())
        return;
    ScanSettings scan;
    const QString invalid = readInput(scan);
    if (!invalid.isEmpty()) {
        m_inputError = true;
        setStatus(QLatin1Char(' ') + invalid);
        return;
    }
    if (m_inputError) {
        m_inputError = false;
        setStatus(QStringLiteral(" "));
    }
    if (!offerRatesBeyondTimeout(scan))
        return;
    // One adapter library is bound at a time: the search needs the open
    // connection's place.
    if (Data->ready()) {
        const QString question =
            QStringLiteral("Hledání ukončí stávající připojení k modulu %1 (adresa %2, %3 Bd). Pokračovat?")
                .arg(Data->identity.trimmed())
                .arg(Data->moduleAddress)
                .arg(Data->baudRate);
        if (!ask(question))
            return;
        CloseConnection(*Data);
    }

    m_scan = scan;
    m_findings.clear();
    NalezeneTable->setRowCount(0);
    PrubehBar->setRange(0, ProgressSteps);
    PrubehBar->setValue(0);
    CasLabel->setText(QStringLiteral("Uplynulo 0:00"));
    setStatus(QStringLiteral(" Probíhá hledání modulů…"));
    m_bridge = std::make_unique<Bridge>(this);
    m_statsPause.emplace();
    m_thread = QThread::create([this] { m_result = RunScan(m_scan, *m_bridge); });
    connect(m_thread, &QThread::finished, this, &TFormHledani::searchFinished);
    setSearching(true);
    m_thread->start();
}

QString TFormHledani::readInput(ScanSettings &scan)
{
    scan.adapter = AdapterSettingsOf(*Data);
    QString field = ParametrEdit->text();
    const QString invalid = ReadAdapterFields(RozhraniCombo->currentIndex(), field, UdpPortEdit->text(),
                                              UdpTimeoutEdit->text(), scan.adapter);
    if (!invalid.isEmpty())
        return invalid;
    if (field != ParametrEdit->text())
        ParametrEdit->setText(field);
    QString error;
    const std::optional<QList<quint8>> addresses = ParseAddressList(AdresyEdit->text(), &error);
    if (!addresses)
        return error;
    scan.addresses = *addresses;
    scan.extraMs = static_cast<quint32>(RezervaSpin->value());
    for (QCheckBox *box : RychlostChecks)
        if (box->isChecked())
            scan.bauds.append(DefaultScanBauds().at(RychlostChecks.indexOf(box)));
    if (scan.bauds.isEmpty())
        return QStringLiteral("Zvolte alespoň jednu komunikační rychlost.");
    return {};
}

void TFormHledani::recheckInput()
{
    if (!m_inputError || !Data || searching())
        return;
    // Checked as "Hledat" would, without touching the fields being typed in.
    ScanSettings scan;
    scan.adapter = AdapterSettingsOf(*Data);
    QString field = ParametrEdit->text();
    QString invalid = ReadAdapterFields(RozhraniCombo->currentIndex(), field, UdpPortEdit->text(),
                                        UdpTimeoutEdit->text(), scan.adapter);
    if (invalid.isEmpty())
        ParseAddressList(AdresyEdit->text(), &invalid);
    if (invalid.isEmpty() && std::none_of(RychlostChecks.cbegin(), RychlostChecks.cend(),
                                          [](const QCheckBox *box) { return box->isChecked(); }))
        invalid = QStringLiteral("Zvolte alespoň jednu komunikační rychlost.");
    m_inputError = !invalid.isEmpty();
    setStatus(QLatin1Char(' ') + invalid);
}

void TFormHledani::ZastavitClick()
{
    if (m_bridge)
        m_bridge->stop = true;
    ZastavitButton->setEnabled(false);
}

bool TFormHledani::offerRatesBeyondTimeout(ScanSettings &scan)
{
    const QList<quint32> deaf = BaudsBeyondUdpTimeout(scan.adapter, scan.bauds);
    if (deaf.isEmpty())
        return true;
    QStringList rates;
    for (quint32 baud : deaf)
        rates << QStringLiteral("%1 Bd").arg(baud);
    const QString text =
        QStringLiteral("S UDP timeoutem %1 ms nestihne modul odpovědět při %2 %3: dotaz a odpověď trvají "
                       "na lince déle, konvertor přestane čekat dřív. Takový modul by hledání nenašlo.\n\n"
                       "Použít UDP timeout 0 (konvertor čeká podle rychlosti), nebo %4 vynechat?")
            .arg(scan.adapter.udpTimeout)
            .arg(deaf.size() > 1 ? QStringLiteral("rychlostech") : QStringLiteral("rychlosti"),
                 rates.join(QStringLiteral(", ")),
                 deaf.size() > 1 ? QStringLiteral("tyto rychlosti") : QStringLiteral("tuto rychlost"));
    QMessageBox box(QMessageBox::Question, windowTitle(), text, QMessageBox::NoButton, this);
    box.setObjectName(QStringLiteral("RychlostiOtazka"));
    QPushButton *zero = box.addButton(QStringLiteral("Použít timeout 0"), QMessageBox::YesRole);
    QPushButton *leave = box.addButton(QStringLiteral("Vynechat"), QMessageBox::NoRole);
    QPushButton *cancel = box.addButton(QStringLiteral("Zrušit"), QMessageBox::RejectRole);
    zero->setObjectName(QStringLiteral("PouzitNulu"));
    leave->setObjectName(QStringLiteral("Vynechat"));
    cancel->setObjectName(QStringLiteral("Zrusit"));
    box.setDefaultButton(zero);
    box.setEscapeButton(cancel);
    rq::execModal(box);
    if (box.clickedButton() == zero) {
        scan.adapter.udpTimeout = 0;
        UdpTimeoutEdit->setText(QStringLiteral("0"));
        return true;
    }
    if (box.clickedButton() != leave)
        return false;
    for (quint32 baud : deaf) {
        scan.bauds.removeAll(baud);
        RychlostChecks.at(DefaultScanBauds().indexOf(baud))->setChecked(false);
    }
    if (scan.bauds.isEmpty()) {
        m_inputError = true;
        setStatus(QStringLiteral(" Zvolte alespoň jednu komunikační rychlost."));
        return false;
    }
    return true;
}

void TFormHledani::showProgress(const ScanProgress &p)
{
    // By the expected time: probes at slow rates wait far longer.
    PrubehBar->setValue(p.expectedMs > 0 ? static_cast<int>(ProgressSteps * p.expectedDoneMs / p.expectedMs)
                                         : 0);
    CasLabel->setText(
        QStringLiteral("Uplynulo %1, zbývá %2").arg(minutes(p.elapsedMs), minutes(p.remainingMs)));
}

void TFormHledani::addFinding(const ScanFinding &f)
{
    m_findings.append(f);
    const int row = NalezeneTable->rowCount();
    NalezeneTable->insertRow(row);
    const QString texts[ColumnCount] = {QString::number(f.address),
                                        QString::number(f.baud) + QStringLiteral(" Bd"),
                                        f.model,
                                        f.firmware,
                                        f.kind == ScanFinding::Kind::Collision
                                            ? QString()
                                            : ScanReplyTimeText(f, QLocale()) + QStringLiteral(" ms"),
                                        f.note};
    for (int c = 0; c < ColumnCount; ++c)
        NalezeneTable->setItem(row, c, new QTableWidgetItem(texts[c]));
}

void TFormHledani::searchFinished()
{
    if (!m_thread)
        return;
    m_thread->wait();
    delete m_thread;
    m_thread = nullptr;
    m_statsPause.reset();
    setSearching(false);
    const QString time = minutes(m_result.elapsedMs);
    switch (m_result.end) {
    case ScanResult::End::Finished:
        PrubehBar->setValue(PrubehBar->maximum());
        CasLabel->setText(QStringLiteral("Uplynulo %1").arg(time));
        setStatus(QStringLiteral(" Hledání dokončeno, nalezeno: %1.").arg(m_result.findings.size()));
        break;
    case ScanResult::End::Stopped:
        CasLabel->setText(QStringLiteral("Uplynulo %1").arg(time));
        setStatus(QStringLiteral(" Hledání zastaveno, nalezeno: %1.").arg(m_result.findings.size()));
        break;
    case ScanResult::End::Failed:
        setStatus(QLatin1Char(' ') + m_result.error);
        break;
    }
    if (NalezeneTable->rowCount() > 0 && NalezeneTable->currentRow() < 0)
        NalezeneTable->selectRow(0);
}

void TFormHledani::KopirovatClick()
{
    QApplication::clipboard()->setText(ScanFindingsCsv(m_findings, QLatin1Char('\t')));
    setStatus(QStringLiteral(" Seznam nalezených modulů zkopírován do schránky."));
}

void TFormHledani::ExportClick()
{
    const QString name =
        exportFileName
            ? exportFileName()
            : rq::saveFileName(this, QStringLiteral("Export nalezených modulů"), QStringLiteral("moduly.csv"),
                               QStringLiteral("Soubory CSV (*.csv)"), {}, rq::FolderKind::ModuleList);
    if (name.isEmpty())
        return;
    // A whole-file save: a failed export leaves the previous file as it was.
    if (!rq::saveWholeFile(name, rq::csv::ByteOrderMark + ScanFindingsCsv(m_findings).toUtf8())) {
        setStatus(QStringLiteral(" Soubor %1 nelze zapsat.").arg(name));
        return;
    }
    setStatus(QStringLiteral(" Seznam nalezených modulů uložen do souboru %1.").arg(name));
}

void TFormHledani::PripojitClick()
{
    const int row = NalezeneTable->currentRow();
    if (!Data || searching() || row < 0 || row >= m_findings.size())
        return;
    const ScanFinding &f = m_findings.at(row);
    // As in the connection dialog: the window waits for the setup's transactions.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    const bool ok = ConnectWith(*Data, m_scan.adapter, f.address, BaudIndexOfRate(f.baud),
                                [this](const QString &text) { setStatus(QLatin1Char(' ') + text); });
    if (ok)
        emit Pripojeno();
}

void TFormHledani::ZavritClick()
{
    reject();
}
