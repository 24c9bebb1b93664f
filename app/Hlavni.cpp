#include "app/Hlavni.h"

#include "app/Dekl.h"
#include "app/Otazka.h"
#include "app/StatusBar.h"
#include "calib/KalibraceAIN.h"
#include "calib/KalibraceIT.h"
#include "comm/Kxxx638.h"
#include "comm/Pripojeni.h"
#include "config/NastavAIN3510.h"
#include "config/NastavAIN3520.h"
#include "config/NastavAIN3530.h"
#include "config/NastavAdr.h"
#include "config/NastavIT.h"
#include "diag/Diagnostika.h"
#include "dio/KonfigEEPROM.h"
#include "dio/NastavDIO.h"
#include "image/Porovnani.h"
#include "live/OkamAIN.h"
#include "live/OkamDIN.h"
#include "live/OkamDOUT.h"
#include "live/StatReg.h"
#include "scan/Hledani.h"
#include "trend/Prubeh.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>

#include <memory>
#include <new>

TForm1::TForm1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral(" RQ-3510,3520,3530 (v.1.08) -  nastavení modulu"));
    resize(600, 400);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    QMenuBar *bar = menuBar();
    PripojeniAction = bar->addAction(QStringLiteral("&Připojení"));
    connect(PripojeniAction, &QAction::triggered, this, &TForm1::PripojeniClick);

    NastaveniMenu = bar->addMenu(QStringLiteral("&Nastavení"));
    const auto add = [this](QMenu *menu, const QString &text, void (TForm1::*slot)()) {
        connect(menu->addAction(text), &QAction::triggered, this, slot);
    };
    add(NastaveniMenu, QStringLiteral("Adresa, rychlost"), &TForm1::AdresaRychlostClick);
    add(NastaveniMenu, QStringLiteral("Analogové vstupy RQ-3510"), &TForm1::AnalogoveVstupy3510Click);
    add(NastaveniMenu, QStringLiteral("Analogové vstupy RQ-3520"), &TForm1::AnalogoveVstupy3520Click);
    add(NastaveniMenu, QStringLiteral("Analogové vstupy RQ-3530"), &TForm1::AnalogoveVstupy3530Click);
    add(NastaveniMenu, QStringLiteral("Interní teploměr"), &TForm1::InterniTeplomerClick);
    add(NastaveniMenu, QStringLiteral("Digitální vstupy/výstupy"), &TForm1::DigitalniVstupyVystupyClick);
    add(NastaveniMenu, QStringLiteral("Kalibrace analogových vstupů"), &TForm1::KalibraceAINClick);
    add(NastaveniMenu, QStringLiteral("Kalibrace interního teploměru"), &TForm1::KalibraceITClick);
    add(NastaveniMenu, QStringLiteral("Konfigurační EEPROM"), &TForm1::KonfiguracniEEPROMClick);

    OkamziteMenu = bar->addMenu(QStringLiteral("&Okamžité hodnoty"));
    add(OkamziteMenu, QStringLiteral("Analogové vstupy"), &TForm1::OkamAnalogoveClick);
    add(OkamziteMenu, QStringLiteral("Digitální vstupy"), &TForm1::OkamDigitalniVstupyClick);
    add(OkamziteMenu, QStringLiteral("Digitální výstupy"), &TForm1::OkamDigitalniVystupyClick);
    add(OkamziteMenu, QStringLiteral("Status registr"), &TForm1::StatusRegistrClick);

    // Tools beside the original menus; each adds its own item here.
    NastrojeMenu = bar->addMenu(QStringLiteral("Ná&stroje"));
    add(NastrojeMenu, QStringLiteral("Hledání modulů"), &TForm1::HledaniModuluClick);
    add(NastrojeMenu, QStringLiteral("Diagnostika spojení"), &TForm1::DiagnostikaSpojeniClick);
    add(NastrojeMenu, QStringLiteral("Porovnání konfigurace"), &TForm1::PorovnaniClick);
    add(NastrojeMenu, QStringLiteral("Průběh hodnot"), &TForm1::PrubehClick);

    KonecAction = bar->addAction(QStringLiteral("&Konec"));
    connect(KonecAction, &QAction::triggered, this, &TForm1::KonecClick);

    StatusBar1 = new TStatusBar({140, 80, 120, 50, 100}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    setStatusBar(StatusBar1);
    StatusBar1->setText(0, QStringLiteral(" Modul"));
    StatusBar1->setText(1, QStringLiteral(" Adresa"));
    StatusBar1->setText(2, QStringLiteral(" Rychlost"));

    FormCreate();
}

TForm1::~TForm1()
{
    FormClose();
}

void TForm1::FormCreate()
{
    Data = createRecord ? createRecord() : new (std::nothrow) TData;
    if (!Data) {
        StatusBar1->setText(3, QLatin1Char(' ') + RecordFailedText);
        return;
    }
    SetDefaults(Data);
    m_settings =
        settingsPath.isEmpty() ? FindSettingsLocation() : SettingsLocation{settingsPath, QString(), false};
    LoadSettings(Data, m_settings);
    // Panels 0 to 2 show the last module set up; this one whether the
    // connection is open now, whichever window opened or closed it.
    Data->connectionChanged = [this] { showConnected(); };
    showConnected();
}

void TForm1::showConnected()
{
    StatusBar1->setText(4, Data && Data->ready() ? ConnectedText : NotConnectedPanelText);
}

void TForm1::FormClose()
{
    delete Diagnostika; // it holds the record
    if (!Data)
        return;
    QString error;
    if (!SaveSettings(Data, m_settings, &error)) {
        const QString text = QStringLiteral("Nastavení připojení se nepodařilo uložit. ") + error;
        if (reportSaveFailure) {
            reportSaveFailure(text);
        } else {
            // The text holds a file name: shown as it is, never as markup.
            QMessageBox box(QMessageBox::Warning, windowTitle(), text, QMessageBox::Ok, this);
            box.setTextFormat(Qt::PlainText);
            rq::execModal(box);
        }
    }
    Data->connectionChanged = nullptr;
    if (Data->connected && Data->handle != 0) {
        quint32 handle = Data->handle;
        CloseAdapter(Data->adapterKind, &handle);
    }
    delete Data;
    Data = nullptr;
}

void TForm1::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
}

void TForm1::runDialog(QDialog &dialog)
{
    // Modal to this window only: it blocks the menu and so every other
    // dialog, but not the diagnostics window beside it.
    dialog.setWindowModality(Qt::WindowModal);
    if (Diagnostika)
        Diagnostika->setOtherDialogOpen(true);
    try {
        dialog.exec();
    } catch (...) {
    }
    if (Diagnostika)
        Diagnostika->setOtherDialogOpen(false);
}

template <class Dialog> void TForm1::openDialog()
{
    if (!Data)
        return;
    // Destroyed when this returns, also when showing it threw.
    std::unique_ptr<Dialog> dialog(new Dialog(this));
    dialog->Data = Data;
    runDialog(*dialog);
}

void TForm1::showConnection()
{
    StatusBar1->setText(0, QStringLiteral(" Modul  ") + Data->identity);
    StatusBar1->setText(1, QStringLiteral(" Adresa  ") + QString::number(Data->moduleAddress));
    StatusBar1->setText(2, QStringLiteral(" Rychlost  ") + QString::number(Data->baudRate) +
                               QStringLiteral("Bd"));
}

void TForm1::PripojeniClick()
{
    if (!Data)
        return;
    std::unique_ptr<TForm2> dialog(new TForm2(this));
    dialog->Data = Data;
    runDialog(*dialog);
    if (dialog->TriedAddress) {
        TriedTarget = std::make_pair(*dialog->TriedAddress, dialog->TriedBaud);
        if (Diagnostika)
            Diagnostika->setCheckTarget(TriedTarget->first, TriedTarget->second);
    }
    showConnection();
}

void TForm1::AdresaRychlostClick()
{
    openDialog<TForm12>();
}
void TForm1::AnalogoveVstupy3510Click()
{
    openDialog<TForm13>();
}
void TForm1::AnalogoveVstupy3520Click()
{
    openDialog<TForm13a>();
}
void TForm1::AnalogoveVstupy3530Click()
{
    openDialog<TForm13b>();
}
void TForm1::InterniTeplomerClick()
{
    openDialog<TForm4>();
}
void TForm1::DigitalniVstupyVystupyClick()
{
    openDialog<TForm14>();
}
void TForm1::KalibraceAINClick()
{
    openDialog<TForm6>();
}
void TForm1::KalibraceITClick()
{
    openDialog<TFormIT>();
}
void TForm1::KonfiguracniEEPROMClick()
{
    openDialog<TForm5>();
}
void TForm1::OkamAnalogoveClick()
{
    openDialog<TForm3>();
}
void TForm1::OkamDigitalniVstupyClick()
{
    openDialog<TForm11>();
}
void TForm1::OkamDigitalniVystupyClick()
{
    openDialog<TForm9>();
}
void TForm1::StatusRegistrClick()
{
    openDialog<TForm15>();
}
void TForm1::PrubehClick()
{
    openDialog<TFormPrubeh>();
}

void TForm1::PorovnaniClick()
{
    openDialog<TFormPorovnani>();
}
void TForm1::HledaniModuluClick()
{
    if (!Data)
        return;
    std::unique_ptr<TFormHledani> dialog(new TFormHledani(this));
    dialog->Data = Data;
    // A module connected from the list shows in the status bar at once, and
    // is where the link checks look.
    connect(dialog.get(), &TFormHledani::Pripojeno, this, [this] {
        showConnection();
        TriedTarget = std::make_pair(Data->moduleAddress, Data->baudRate);
        if (Diagnostika)
            Diagnostika->setCheckTarget(TriedTarget->first, TriedTarget->second);
    });
    runDialog(*dialog);
    showConnection();
}

void TForm1::KonecClick()
{
    close();
}

void TForm1::DiagnostikaSpojeniClick()
{
    if (!Data)
        return;
    // Shown beside the modal dialogs, never run modally: it reads the
    // counters while they work and sends only when the user asks.
    if (!Diagnostika) {
        // No parent: a dialog modal to the main window would block a child
        // of it too. The main window deletes it when it closes.
        Diagnostika = new TFormDiagnostika(nullptr);
        Diagnostika->setAttribute(Qt::WA_DeleteOnClose);
        Diagnostika->Data = Data;
        if (TriedTarget)
            Diagnostika->setCheckTarget(TriedTarget->first, TriedTarget->second);
    }
    Diagnostika->show();
    Diagnostika->raise();
    Diagnostika->activateWindow();
}
