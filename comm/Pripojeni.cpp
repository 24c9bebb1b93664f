#include "comm/Pripojeni.h"

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "comm/Spojeni.h"
#include "core/Cp1250.h"

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QShowEvent>

namespace {
using namespace ConnectText;
} // namespace

TForm2::TForm2(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Připojení modulu"));
    const auto label = [this](const char *name, const QString &text) {
        auto *l = new QLabel(text, this);
        l->setObjectName(QLatin1String(name));
        return l;
    };
    const auto edit = [this](const char *name) {
        auto *e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        return e;
    };
    Label5 = label("Label5", QStringLiteral("Komunikační rozhraní"));
    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->addItems(AdapterItems());
    Label3 = label("Label3", QString());
    Edit2 = edit("Edit2");
    Label6 = label("Label6", QStringLiteral("UDP port"));
    Edit3 = edit("Edit3");
    Label7 = label("Label7", QStringLiteral("UDP timeout"));
    Edit4 = edit("Edit4");
    Label1 = label("Label1", QStringLiteral("Adresa připojeného modulu"));
    Edit1 = edit("Edit1");
    Label2 = label("Label2", QStringLiteral("Komunikační rychlost"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->addItems(BaudItems);
    ComboBox1->setCurrentIndex(4);
    Label4 = label("Label4", QStringLiteral("Status připojení"));
    Panel1 = label("Panel1", QString());
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setTextFormat(Qt::PlainText); // library texts and the module identity, never markup
    Panel1->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Panel1->setAutoFillBackground(true);
    QPalette white = Panel1->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    Panel1->setPalette(white);
    Panel1->setMargin(2);
    // Room for the success text with a full identity.
    Panel1->setMinimumWidth(
        QFontMetrics(Panel1->font()).horizontalAdvance(Connected + QStringLiteral("RQ-3510  v.1.08")) + 40);
    Button1 = new QPushButton(QStringLiteral("Inicializace připojení"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    // Enter in a field sets up the connection; on a focused button it
    // presses that button.
    Button1->setDefault(true);

    // The adapter-specific rows keep their place when hidden, so switching
    // the adapter does not make the window jump.
    for (QWidget *w : adapterFields()) {
        QSizePolicy p = w->sizePolicy();
        p.setRetainSizeWhenHidden(true);
        w->setSizePolicy(p);
    }

    auto *grid = new QGridLayout;
    int row = 0;
    const auto addRow = [&](QLabel *l, QWidget *w) {
        grid->addWidget(l, row, 0);
        grid->addWidget(w, row, 1);
        ++row;
    };
    addRow(Label5, ComboBox2);
    addRow(Label3, Edit2);
    addRow(Label6, Edit3);
    addRow(Label7, Edit4);
    addRow(Label1, Edit1);
    addRow(Label2, ComboBox1);
    grid->addWidget(Label4, row++, 0, 1, 2);
    grid->addWidget(Panel1, row++, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ComboBox2, &QComboBox::currentIndexChanged, this, &TForm2::ComboBox2Change);
    connect(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm2::Button2Click);
}

void TForm2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormShow();
    if (const QScreen *s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TForm2::setPanel(const QString &text)
{
    Panel1->setText(text);
    Panel1->repaint();
}

QList<QWidget *> TForm2::adapterFields() const
{
    return {Label3, Edit2, Label6, Edit3, Label7, Edit4};
}

void TForm2::showAdapterFields(int kind)
{
    for (QWidget *w : adapterFields())
        w->setVisible(false);
    if (!Data)
        return;
    if (kind == 2 || kind == 3)
        return;
    // No valid adapter: the field stays, empty, for whatever comes next.
    const AdapterSettings s = AdapterSettingsOf(*Data);
    Label3->setText(AdapterFieldCaption(kind));
    Edit2->setText(AdapterFieldText(s, kind));
    if (kind == 4) {
        Edit3->setText(QString::number(Data->udpPort));
        Edit4->setText(QString::number(Data->udpTimeout));
        for (QWidget *w : adapterFields())
            w->setVisible(true);
    }
    Label3->setVisible(true);
    Edit2->setVisible(true);
}

void TForm2::FormShow()
{
    if (!Data)
        return;
    Edit1->setText(QString::number(Data->moduleAddress));
    ComboBox1->setCurrentIndex(BaudIndexOfRate(Data->baudRate));
    Data->adapterKind &= 7;
    {
        const QSignalBlocker block(ComboBox2);
        ComboBox2->setCurrentIndex(Data->adapterKind <= 4 ? Data->adapterKind : -1);
    }
    showAdapterFields(Data->adapterKind);
    setPanel(Data->statusText);
}

void TForm2::ComboBox2Change()
{
    const int kind = ComboBox2->currentIndex();
    showAdapterFields(kind);
    if (kind < 0 || kind > 4)
        setPanel(UnknownAdapter);
}

void TForm2::Button2Click()
{
    reject();
}

void TForm2::Button1Click()
{
    if (!Data)
        return;
    TData &d = *Data;
    // The window does not answer until the setup ends: closing the old
    // connection, Init and the identification may each take up to a timeout.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });

    // Whatever follows, the open connection ends first.
    CloseConnection(d);
    setPanel(InProgress);

    const quint8 address = static_cast<quint8>(ParseIntText(Edit1->text()).value_or(0));
    Edit1->setText(QString::number(address));
    const int baudIndex = ComboBox1->currentIndex();
    TriedAddress = address;
    TriedBaud = BaudRateOfIndex(baudIndex);
    const int kind = ComboBox2->currentIndex();
    d.initBlock.fill(0);

    AdapterSettings settings = AdapterSettingsOf(d);
    QString field = Edit2->text();
    const QString invalid = ReadAdapterFields(kind, field, Edit3->text(), Edit4->text(), settings);
    if (kind == 0 || kind == 1)
        Edit2->setText(field);
    // Fields read before an invalid one stay in the record.
    StoreAdapterSettings(d, settings);
    if (!invalid.isEmpty()) {
        setPanel(invalid);
        return;
    }
    d.initBlock = MakeInitBlock(settings, d.ipAddress8bit);
    ConnectRecord(d, address, baudIndex, [this](const QString &text) { setPanel(text); });
}
