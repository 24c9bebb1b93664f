#include "comm/Pripojeni.h"

#include "app/Cp1250.h"
#include "app/Dekl.h"
#include "comm/Kxxx638.h"

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
const QString UnknownAdapterText = QStringLiteral("Neznámý typ rozhraní");
const QString InitInProgressText = QStringLiteral("Probíhá inicializace připojení");
const QString InitFailedText = QStringLiteral("Chyba inicializace připojení - ");
const QString BadIpText = QStringLiteral("Neplatná IP adresa");
const QString BadUdpPortText = QStringLiteral("Neplatný UDP port");
const QString BadUdpTimeoutText = QStringLiteral("Neplatný UDP timeout");
const QString ConnectedText = QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   ");

// Parameter passed as the third value of SetConfig by every setup.
constexpr quint32 SetConfigThird = 2;
constexpr quint8 IdentifyCommand = 200;

// A UDP port or timeout: a number whose 32-bit pattern is at most 65535
// (so every negative number fails).
std::optional<quint32> udpValue(const QString &text)
{
    const std::optional<qint32> v = ParseIntText(text);
    if (!v || static_cast<quint32>(*v) > 65535u) return std::nullopt;
    return static_cast<quint32>(*v);
}
} // namespace

QString IsaBaseText(quint16 base)
{
    return QStringLiteral("%1").arg(base, 3, 16, QLatin1Char('0')).toUpper() + QLatin1Char('h');
}

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
    ComboBox2->addItems({QStringLiteral("Standardní COMx"), QStringLiteral("ISA karta PCI-638"),
                         QStringLiteral("PCI karta PCI-4638"), QStringLiteral("USB konvertor USB-4638"),
                         QStringLiteral("LAN konvertor RQ-4638")});
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
        QFontMetrics(Panel1->font()).horizontalAdvance(ConnectedText + QStringLiteral("RQ-3510  v.1.08")) +
        40);
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
    if (event->spontaneous()) return;
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
    if (!Data) return;
    switch (kind) {
    case 0:
        Label3->setText(QStringLiteral("Číslo portu COMx"));
        Edit2->setText(QString::number(Data->comPort));
        break;
    case 1:
        Label3->setText(QStringLiteral("Bázová adresa PCI-638"));
        Edit2->setText(IsaBaseText(Data->isaBase));
        break;
    case 2:
    case 3:
        return;
    case 4:
        Label3->setText(QStringLiteral("IP adresa"));
        Edit2->setText(Data->ipAddress);
        Edit3->setText(QString::number(Data->udpPort));
        Edit4->setText(QString::number(Data->udpTimeout));
        Label6->setVisible(true);
        Edit3->setVisible(true);
        Label7->setVisible(true);
        Edit4->setVisible(true);
        break;
    default:
        // No valid adapter: the field stays, empty, for whatever comes next.
        Label3->setText(QString());
        Edit2->clear();
        break;
    }
    Label3->setVisible(true);
    Edit2->setVisible(true);
}

void TForm2::FormShow()
{
    if (!Data) return;
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
    if (kind < 0 || kind > 4) setPanel(UnknownAdapterText);
}

void TForm2::Button2Click()
{
    reject();
}

void TForm2::abandon(quint32 &handle)
{
    CloseAdapter(Data->adapterKind, &handle);
    Data->handle = handle;
    Data->connected = false;
}

void TForm2::Button1Click()
{
    if (!Data) return;
    TData &d = *Data;
    // The window does not answer until the setup ends: closing the old
    // connection, Init and the identification may each take up to a timeout.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });

    // Whatever follows, the open connection ends first.
    quint32 handle = d.handle;
    if (d.connected && handle != 0) {
        CloseAdapter(d.adapterKind, &handle);
        d.handle = handle;
        d.connected = false;
    }
    setPanel(InitInProgressText);

    const quint8 address = static_cast<quint8>(ParseIntText(Edit1->text()).value_or(0));
    Edit1->setText(QString::number(address));
    const int baudIndex = ComboBox1->currentIndex();
    const quint32 baud = BaudRateOfIndex(baudIndex);
    const int kind = ComboBox2->currentIndex();
    // The record only ever holds a kind the list offers.
    if (kind >= 0 && kind <= 4) d.adapterKind = static_cast<quint8>(kind);
    d.initBlock.fill(0);

    switch (kind) {
    case 0: {
        const qint32 port = ParseIntText(Edit2->text()).value_or(1);
        const quint16 port16 = static_cast<quint16>(port);
        Edit2->setText(QString::number(port16));
        d.comPort = static_cast<quint8>(port);
        d.initBlock[0] = port16;
        break;
    }
    case 1: {
        // Four characters such as "2A0h" are the digits and the "h"; anything
        // else falls back to the factory address.
        const QString text = Edit2->text();
        const QString hex = text.size() == 4 ? QLatin1Char('$') + text.left(3) : QStringLiteral("$300");
        const quint16 base = static_cast<quint16>(ParseIntText(hex).value_or(0x300));
        Edit2->setText(IsaBaseText(base));
        d.isaBase = base;
        d.initBlock[0] = base;
        break;
    }
    case 2:
    case 3:
        break;
    case 4: {
        if (Edit2->text().isEmpty()) {
            setPanel(BadIpText);
            return;
        }
        d.ipAddress = Edit2->text();
        // QByteArray keeps its data zero-terminated; the library reads it
        // through init block word 0 while Init runs.
        d.ipAddress8bit = ToCp1250(d.ipAddress);
        const std::optional<quint32> port = udpValue(Edit3->text());
        if (!port) {
            setPanel(BadUdpPortText);
            return;
        }
        d.udpPort = *port;
        const std::optional<quint32> timeout = udpValue(Edit4->text());
        if (!timeout) {
            setPanel(BadUdpTimeoutText);
            return;
        }
        d.udpTimeout = *timeout;
        d.initBlock[0] = reinterpret_cast<std::uintptr_t>(d.ipAddress8bit.constData());
        d.initBlock[1] = d.udpPort;
        d.initBlock[2] = d.udpTimeout;
        break;
    }
    default:
        setPanel(UnknownAdapterText);
        return;
    }

    quint32 result = OpenAdapter(d.adapterKind, &handle, d.initBlock);
    QString text = ErrorText(d.adapterKind, result);
    if (result != 0) {
        // A library whose Init failed stays bound; the next open replaces it.
        setPanel(InitFailedText + text);
        d.connected = false;
        return;
    }
    d.connected = true;

    result = ConfigureAdapter(d.adapterKind, handle, baud, ReplyTimeoutOfRate(baud), SetConfigThird);
    text = ErrorText(d.adapterKind, result);
    if (result != 0) {
        setPanel(InitFailedText + text);
        abandon(handle);
        return;
    }

    std::array<std::array<quint8, 4>, 3> replies{};
    quint8 d0 = 0;
    for (quint8 sub = 0; sub < 3; ++sub) {
        quint8 d1 = 0, d2 = 0, d3 = 0, d4 = 0;
        // A library that hands out handle 0 sends nothing; that counts as
        // "nothing bound" rather than as an empty identity.
        quint8 error = static_cast<quint8>(AdapterError::NotBound);
        Record response{};
        RunModuleTransaction(d.adapterKind, handle, address, IdentifyCommand, sub, d0, d1, d2, d3, d4, error,
                             response.data());
        text = ErrorText(d.adapterKind, error);
        if (error != 0) {
            setPanel(text);
            abandon(handle);
            return;
        }
        replies[sub] = {d1, d2, d3, d4};
    }

    QString identity;
    const auto append = [&identity](const std::array<quint8, 4> &bytes) {
        for (quint8 b : bytes)
            identity.append(FromCp1250(b));
    };
    append(replies[0]);
    append(replies[1]);
    identity.append(QStringLiteral(" v."));
    append(replies[2]);
    d.identity = identity;
    setPanel(ConnectedText + identity);

    d.moduleAddress = address;
    d.baudRate = baud;
    d.statusText = StatusOkText;
    d.handle = handle;
}
