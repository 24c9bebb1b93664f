#ifndef RQ_SCAN_HLEDANI_H
#define RQ_SCAN_HLEDANI_H

#include "diag/LinkStats.h"
#include "scan/HledaniModulu.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QThread;
class TStatusBar;
struct TData;

// "Hledání modulů": probes a range of addresses at chosen baud rates and
// lists every module that answers; "Připojit" connects to the selected one
// as the connection dialog would. The search runs beside the user
// interface, so the window stays responsive and "Zastavit" acts within one
// probe.
class TFormHledani : public QDialog
{
    Q_OBJECT
public:
    explicit TFormHledani(QWidget *parent = nullptr);
    ~TFormHledani() override;

    TData *Data = nullptr;

    QComboBox *RozhraniCombo = nullptr;
    QLabel *ParametrLabel = nullptr; // COM port, ISA base address or IP address
    QLineEdit *ParametrEdit = nullptr;
    QLabel *UdpPortLabel = nullptr;
    QLineEdit *UdpPortEdit = nullptr;
    QLabel *UdpTimeoutLabel = nullptr;
    QLineEdit *UdpTimeoutEdit = nullptr;
    QLineEdit *AdresyEdit = nullptr;   // "0-255", "1,5,10-20"
    QSpinBox *RezervaSpin = nullptr;   // ms added to every probe's timeout
    QList<QCheckBox *> RychlostChecks; // in the search order of the rates
    QPushButton *HledatButton = nullptr;
    QPushButton *ZastavitButton = nullptr;
    QProgressBar *PrubehBar = nullptr; // by expected time, 0..ProgressSteps
    static constexpr int ProgressSteps = 1000;
    QLabel *CasLabel = nullptr; // elapsed and remaining time
    QTableWidget *NalezeneTable = nullptr;
    QPushButton *KopirovatButton = nullptr;
    QPushButton *ExportButton = nullptr;
    QPushButton *PripojitButton = nullptr;
    QPushButton *ZavritButton = nullptr;
    TStatusBar *StatusBar1 = nullptr;

    // Seams for tests: the question before a search ends an open
    // connection (true = "Ano"), and the file name of a CSV export (empty =
    // cancelled).
    static inline std::function<bool(const QString &)> askQuestion;
    static inline std::function<QString()> exportFileName;

    bool searching() const;
    // Probes sent by the current or last search (counted as they go out).
    int probesSent() const;
    QList<ScanFinding> findings() const { return m_findings; }

signals:
    // A module was connected: the record holds the new connection.
    void Pripojeno();

public slots:
    void FormShow();
    void RozhraniComboChange();
    void HledatClick();
    void ZastavitClick();
    void KopirovatClick();
    void ExportClick();
    void PripojitClick();
    void ZavritClick();

protected:
    void showEvent(QShowEvent *event) override;
    void done(int result) override;

private:
    class Bridge;
    void showAdapterFields(int kind);
    void setStatus(const QString &text);
    void setSearching(bool on);
    void addFinding(const ScanFinding &f);
    // Rates the LAN converter's UDP timeout cannot hear: the user sets the
    // timeout to 0 or leaves them out. False when the search is not to start.
    bool offerRatesBeyondTimeout(ScanSettings &scan);
    void showProgress(const ScanProgress &p);
    void searchFinished();
    void stopAndWait();
    bool ask(const QString &question);
    // The search's settings from the fields; the reason when one is wrong.
    QString readInput(ScanSettings &scan);
    void recheckInput();

    std::unique_ptr<Bridge> m_bridge;
    QThread *m_thread = nullptr;
    // Held while the search thread runs: its probes leave the link counters alone.
    std::optional<LinkStats::Pause> m_statsPause;
    ScanSettings m_scan;
    ScanResult m_result;
    QList<ScanFinding> m_findings;
    bool m_inputError = false; // the status bar shows what is wrong with an input
};

#endif
