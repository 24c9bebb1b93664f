#ifndef RQ_APP_HLAVNI_H
#define RQ_APP_HLAVNI_H

#include "app/Dekl.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <optional>
#include <utility>

class QAction;
class QMenu;
class TFormDiagnostika;
class TStatusBar;

// The main window: owns the application data record, loads and saves the
// settings file, opens every function as a dialog modal to it and shows the
// connected module in its status bar.
class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    // Panel 4: whether a connection is open.
    static inline const QString ConnectedText = QStringLiteral("Připojeno");
    static inline const QString NotConnectedPanelText = QStringLiteral("Nepřipojeno");

    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // The application data record; null when it could not be created.
    TData *Data = nullptr;

    TStatusBar *StatusBar1 = nullptr;
    QAction *PripojeniAction = nullptr;
    QMenu *NastaveniMenu = nullptr;
    QMenu *OkamziteMenu = nullptr;
    QMenu *NastrojeMenu = nullptr;
    QAction *KonecAction = nullptr;
    // The one link diagnostics window; not modal, so it is kept, not run. A
    // window of its own, not a child: the dialogs, modal to this window only,
    // leave it usable.
    QPointer<TFormDiagnostika> Diagnostika;
    // The address and baud rate the connection dialog last tried (the record
    // keeps the last ones that worked); the link checks start from them.
    std::optional<std::pair<quint8, quint32>> TriedTarget;

    // Seams for tests: how the record is made, where the settings file lies
    // (empty: found by FindSettingsLocation), and how a failed save of it is
    // told to the user.
    static inline std::function<TData *()> createRecord;
    static inline QString settingsPath;
    static inline std::function<void(const QString &)> reportSaveFailure;

public slots:
    void FormCreate();
    // Saves the settings, closes an open adapter and frees the record. Runs
    // once, whichever way the window is closed.
    void FormClose();

    void PripojeniClick();
    void AdresaRychlostClick();
    void AnalogoveVstupy3510Click();
    void AnalogoveVstupy3520Click();
    void AnalogoveVstupy3530Click();
    void InterniTeplomerClick();
    void DigitalniVstupyVystupyClick();
    void KalibraceAINClick();
    void KalibraceITClick();
    void KonfiguracniEEPROMClick();
    void OkamAnalogoveClick();
    void OkamDigitalniVstupyClick();
    void OkamDigitalniVystupyClick();
    void StatusRegistrClick();
    void DiagnostikaSpojeniClick();
    void PrubehClick(); // "Průběh hodnot"
    void PorovnaniClick();
    void HledaniModuluClick();
    void KonecClick();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    template <class Dialog> void openDialog();
    // Runs a dialog modal to this window; the diagnostics know meanwhile.
    void runDialog(QDialog &dialog);
    void showConnection();
    void showConnected();

    SettingsLocation m_settings;
};

#endif
