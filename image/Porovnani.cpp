#include "image/Porovnani.h"

#include "app/Otazka.h"
#include "app/StatusBar.h"
#include "dio/EepromFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {
const QString Mark = QStringLiteral("≠");

QString differText(qsizetype n)
{
    return QStringLiteral(" Liší se ") +
           CzechCount(n, QStringLiteral("položka"), QStringLiteral("položky"), QStringLiteral("položek")) +
           QLatin1Char('.');
}

QString byteText(int value)
{
    return QStringLiteral("0x%1 (%2)").arg(value, 2, 16, QLatin1Char('0')).arg(value);
}
} // namespace

TFormPorovnani::TFormPorovnani(QWidget *parent) : TPrenosDialog(parent)
{
    setWindowTitle(QStringLiteral("Porovnání konfigurace"));
    const auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        // Files come through "Procházet", which also loads them.
        e->setReadOnly(true);
        e->setMinimumWidth(320);
        return e;
    };

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    for (ModuleModel m : AllModels)
        ComboBox1->addItem(ModelName(m));
    Edit1 = edit("Edit1");
    Edit2 = edit("Edit2");
    Button1 = makeButton("Button1", QStringLiteral("Procházet"), &TFormPorovnani::Button1Click);
    Button2 = makeButton("Button2", QStringLiteral("Procházet"), &TFormPorovnani::Button2Click);
    Button3 = makeButton("Button3", QStringLiteral("Načíst z modulu"), &TFormPorovnani::Button3Click);
    Button4 = makeButton("Button4", QStringLiteral("Přerušit"), &TFormPorovnani::Button4Click);
    Button4->setEnabled(false);
    Button5 = makeButton("Button5", QStringLiteral("Kopírovat"), &TFormPorovnani::Button5Click);
    Button6 = makeButton("Button6", QStringLiteral("Zavřít"), &TFormPorovnani::Button6Click);
    RadioButton1 = new QRadioButton(QStringLiteral("Soubor"), this);
    RadioButton1->setObjectName(QStringLiteral("RadioButton1"));
    RadioButton2 = new QRadioButton(QStringLiteral("Připojený modul"), this);
    RadioButton2->setObjectName(QStringLiteral("RadioButton2"));
    RadioButton1->setChecked(true);
    ProgressBar1 = makeProgressBar();
    CheckBox1 = new QCheckBox(QStringLiteral("Jen rozdíly"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    Table1 = new QTableWidget(0, 3, this);
    Table1->setObjectName(QStringLiteral("Table1"));
    Table1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table1->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table1->verticalHeader()->setVisible(false);
    // About 110 rows: one line of text each, so many fit the window.
    Table1->verticalHeader()->setDefaultSectionSize(Table1->fontMetrics().height() + 6);
    Table1->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Table1->horizontalHeader()->setStretchLastSection(true);
    Table1->setMinimumSize(560, 360);

    auto *grid = new QGridLayout;
    auto *modelLabel = new QLabel(QStringLiteral("Model"), this);
    modelLabel->setBuddy(ComboBox1);
    grid->addWidget(modelLabel, 0, 0);
    grid->addWidget(ComboBox1, 0, 1, Qt::AlignLeft);
    auto *firstLabel = new QLabel(QStringLiteral("První soubor"), this);
    firstLabel->setBuddy(Button1);
    grid->addWidget(firstLabel, 1, 0);
    grid->addWidget(Edit1, 1, 1);
    grid->addWidget(Button1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Porovnat se"), this), 2, 0);
    grid->addWidget(RadioButton1, 2, 1);
    grid->addWidget(Edit2, 3, 1);
    grid->addWidget(Button2, 3, 2);
    grid->addWidget(RadioButton2, 4, 1);
    auto *moduleRow = new QHBoxLayout;
    moduleRow->addWidget(Button3);
    moduleRow->addWidget(Button4);
    moduleRow->addWidget(ProgressBar1, 1);
    grid->addLayout(moduleRow, 5, 1, 1, 2);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(CheckBox1);
    layout->addWidget(Table1, 1);
    auto *closeRow = new QHBoxLayout;
    closeRow->addWidget(Button5);
    closeRow->addStretch(1);
    closeRow->addWidget(Button6);
    layout->addLayout(closeRow);
    layout->addWidget(StatusBar1);

    chooseFile = [this](const QString &preset) { return runFileDialog(preset); };
    connect(ComboBox1, &QComboBox::activated, this, [this] {
        m_modelChosen = true;
        refresh();
    });
    connect(CheckBox1, &QCheckBox::toggled, this, &TFormPorovnani::refresh);
    connect(RadioButton2, &QRadioButton::toggled, this, [this](bool module) {
        // The other source's image no longer stands on the right.
        m_sides[1] = {};
        if (!module && !Edit2->text().isEmpty())
            NactiSoubor(1, Edit2->text());
        refresh();
    });
    refresh();
}

void TFormPorovnani::FormShow()
{
    TPrenosDialog::FormShow();
    if (Data) {
        if (const std::optional<ModuleModel> m = ModelOfIdentity(Data->identity))
            setModel(*m);
        // With a module connected, comparing with it is what is wanted most.
        if (Data->ready())
            RadioButton2->setChecked(true);
    }
    refresh();
}

void TFormPorovnani::ZapisOkno(const TCFGRQ &) {}

ModuleModel TFormPorovnani::model() const
{
    return AllModels[std::max(0, ComboBox1->currentIndex())];
}

void TFormPorovnani::setModel(ModuleModel model)
{
    ComboBox1->setCurrentIndex(int(model));
    m_modelChosen = true;
    refresh();
}

QList<QPushButton *> TFormPorovnani::startButtons() const
{
    return {Button1, Button2, Button3, Button5};
}

std::optional<QString> TFormPorovnani::runFileDialog(const QString &preset)
{
    const QString name = rq::openFileName(this, QStringLiteral("Konfigurační soubor"), preset,
                                          QStringLiteral("Konfigurační soubor (*.kee);;Všechny soubory (*)"),
                                          rq::FolderKind::Eeprom);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

void TFormPorovnani::browse(int side)
{
    if (busy())
        return;
    QLineEdit *e = side == 0 ? Edit1 : Edit2;
    QString preset = e->text();
    if (preset.isEmpty())
        preset = Data && !Data->lastEepromFile.isEmpty() ? QFileInfo(Data->lastEepromFile).absolutePath()
                                                         : QDir::homePath();
    const std::optional<QString> chosen = chooseFile(preset);
    if (!chosen || chosen->isEmpty())
        return;
    if (side == 1)
        RadioButton1->setChecked(true);
    NactiSoubor(side, *chosen);
    refresh();
}

bool TFormPorovnani::NactiSoubor(int side, const QString &path)
{
    (side == 0 ? Edit1 : Edit2)->setText(path);
    Side &s = m_sides[side];
    s = {};
    EepromBlock block{};
    if (!LoadEepromFile(path, block)) {
        refresh();
        setStatusText(EepromText::LoadFailed);
        return false;
    }
    s.block = block;
    s.title = QFileInfo(path).fileName();
    s.size = QFileInfo(path).size();
    if (Data)
        Data->lastEepromFile = QFileInfo(path).absoluteFilePath();
    // Until the user picks one, the model is the one the first file fits.
    if (!m_modelChosen) {
        const QList<ModuleModel> fitting = ModelsFitting(block);
        if (!fitting.isEmpty())
            ComboBox1->setCurrentIndex(int(fitting.first()));
    }
    refresh();
    return true;
}

TransferOutcome TFormPorovnani::PrectiData()
{
    return ReadSequence(Data, *this, EepromSteps(Work.eeprom), EepromProgress);
}

void TFormPorovnani::Button1Click()
{
    browse(0);
}

void TFormPorovnani::Button2Click()
{
    browse(1);
}

void TFormPorovnani::Button3Click()
{
    if (!Data || busy() || !connectionReady())
        return;
    RadioButton2->setChecked(true);
    m_sides[1] = {};
    refresh();
    Button4->setEnabled(true);
    const TransferOutcome outcome = runTransfer([this] { return PrectiData(); });
    Button4->setEnabled(false);
    if (!outcome) {
        if (outcome.end == TransferOutcome::End::CutShort)
            setStatusText(QStringLiteral(" Čtení přerušeno."));
        return;
    }
    m_sides[1].block = Work.eeprom;
    m_sides[1].title = QStringLiteral("Modul (adresa %1)").arg(Data->moduleAddress);
    m_sides[1].size = EepromFileSize;
    refresh();
}

void TFormPorovnani::Button4Click()
{
    stopTransfer();
}

void TFormPorovnani::Button5Click()
{
    if (QClipboard *clipboard = QApplication::clipboard())
        clipboard->setText(tableText());
}

void TFormPorovnani::Button6Click()
{
    reject();
}

void TFormPorovnani::refresh()
{
    Table1->setRowCount(0);
    const QStringList heads{QStringLiteral("Položka"),
                            m_sides[0].block ? m_sides[0].title : QStringLiteral("První"),
                            m_sides[1].block ? m_sides[1].title : QStringLiteral("Druhý")};
    Table1->setHorizontalHeaderLabels(heads);
    const bool both = m_sides[0].block && m_sides[1].block;
    Button5->setEnabled(!busy() && (m_sides[0].block || m_sides[1].block));
    if (!m_sides[0].block && !m_sides[1].block)
        return;
    const ModuleModel m = model();
    const EepromBlock empty{};
    const QList<ImageField> first = DecodeImage(m_sides[0].block.value_or(empty), m);
    const QList<ImageField> second = DecodeImage(m_sides[1].block.value_or(empty), m);
    QList<FieldChange> changes;
    if (both)
        changes = CompareImages(*m_sides[0].block, *m_sides[1].block, m);

    QFont bold = Table1->font();
    bold.setBold(true);
    const QColor marked(255, 224, 160);
    const auto addRow = [&](const QString &caption, const QString &a, const QString &b, bool differs,
                            bool valid) {
        if (CheckBox1->isChecked() && !differs)
            return;
        const int row = Table1->rowCount();
        Table1->insertRow(row);
        const QStringList texts{differs ? Mark + QLatin1Char(' ') + caption : caption, a, b};
        for (int c = 0; c < 3; ++c) {
            auto *item = new QTableWidgetItem(texts.at(c));
            if (differs) {
                item->setFont(bold);
                item->setBackground(marked);
            }
            if (!valid && c > 0)
                item->setForeground(Qt::red);
            Table1->setItem(row, c, item);
        }
    };
    for (qsizetype i = 0; i < first.size(); ++i) {
        const ImageField &a = first.at(i);
        const ImageField &b = second.at(i);
        const auto change = std::find_if(changes.cbegin(), changes.cend(),
                                         [&a](const FieldChange &c) { return c.key == a.key; });
        const bool differs = change != changes.cend();
        addRow(a.caption, m_sides[0].block ? a.text : QString(), m_sides[1].block ? b.text : QString(),
               differs, a.valid && b.valid);
        // The other bytes one by one, where they differ.
        if (differs && a.key == u"other")
            for (int o : change->offsets)
                addRow(QStringLiteral("  ") + BlockPlace(o), byteText((*m_sides[0].block)[std::size_t(o)]),
                       byteText((*m_sides[1].block)[std::size_t(o)]), true, true);
    }
    Table1->resizeColumnsToContents();

    if (!both)
        return;
    QString text =
        changes.isEmpty() ? QStringLiteral(" Konfigurace se shodují.") : differText(changes.size());
    for (const Side &s : m_sides)
        if (s.size != EepromFileSize)
            text += QStringLiteral(" Soubor %1 má %2, ne %3.")
                        .arg(s.title, CzechCount(s.size, QStringLiteral("bajt"), QStringLiteral("bajty"),
                                                 QStringLiteral("bajtů")))
                        .arg(EepromFileSize);
    setStatusText(text);
}

QString TFormPorovnani::tableText() const
{
    QStringList lines{QStringLiteral("Porovnání konfigurace, model ") + ModelName(model())};
    QStringList heads;
    for (int c = 0; c < Table1->columnCount(); ++c)
        heads << Table1->horizontalHeaderItem(c)->text();
    lines << heads.join(QLatin1Char('\t'));
    for (int r = 0; r < Table1->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < Table1->columnCount(); ++c)
            cells << Table1->item(r, c)->text();
        lines << cells.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
