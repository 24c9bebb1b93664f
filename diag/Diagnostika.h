#ifndef RQ_DIAG_DIAGNOSTIKA_H
#define RQ_DIAG_DIAGNOSTIKA_H

#include "diag/LinkCheck.h"

#include <QDialog>

#include <functional>
#include <optional>

class QBarSet;
class QCheckBox;
class QComboBox;
class QChartView;
class QLabel;
class QLineEdit;
class QLineSeries;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTimer;
class TStatusBar;
struct TData;

// "Diagnostika spojení": what the bus did since the connection was set up
// (counters, reply-time histogram, the last transactions) and the checks of
// the connection with the stable port names. Not modal and a window of its
// own: it stays usable beside the other dialogs and only reads the counters;
// it sends only when the user asks for the checks, which wait while another
// dialog works on the connection.
class TFormDiagnostika : public QDialog
{
    Q_OBJECT
public:
    explicit TFormDiagnostika(QWidget *parent = nullptr);

    TData *Data = nullptr;

    QTabWidget *PageControl1 = nullptr;
    // Traffic
    QLabel *SinceLabel = nullptr;
    QLabel *TransactionsLabel = nullptr;
    QLabel *ErrorsLabel = nullptr;
    QLabel *ReplyTimesLabel = nullptr;
    QTableWidget *ErrorTable = nullptr; // code, count, text
    QChartView *HistogramChart = nullptr;
    QBarSet *RepliesSet = nullptr;
    QBarSet *ErrorsSet = nullptr;
    QCheckBox *LogAxisCheckBox = nullptr; // "Logaritmická osa" for the counts
    QChartView *RateChart = nullptr;      // replies and errors per second, last 10 minutes
    QLineSeries *RepliesRate = nullptr;
    QLineSeries *ErrorsRate = nullptr;
    QTableWidget *LogTable = nullptr;
    QCheckBox *ErrorsOnlyCheckBox = nullptr;
    QPushButton *ResetButton = nullptr;  // "Vynulovat"
    QPushButton *ExportButton = nullptr; // "Export do CSV…"
    // Checks and port names
    QPushButton *CheckButton = nullptr;     // "Zkontrolovat spojení"
    QLabel *CheckReasonLabel = nullptr;     // beside it: why it is greyed
    QLineEdit *CheckAddressEdit = nullptr;  // the module address the checks look for
    QComboBox *CheckBaudComboBox = nullptr; // ... and its baud rate
    QTableWidget *CheckTable = nullptr;     // check, finding, what to do
    QTableWidget *DeviceTable = nullptr;    // stable name, device now, port it stands for
    QComboBox *PortComboBox = nullptr;      // COM1..COM16, USB
    QPushButton *AssignButton = nullptr;    // "Přiřadit portu"
    QPushButton *CloseButton = nullptr;
    TStatusBar *StatusBar1 = nullptr;
    QTimer *Timer1 = nullptr;

    // Asks for the CSV file to write; nothing when the user cancelled.
    using FileChooser = std::function<std::optional<QString>()>;
    FileChooser chooseFile;
    // Folder whose entries are listed as stable names, and the map file written.
    QString serialFolder;
    QString portMapFile;

    // Writes the transaction log (all of it) as CSV (rq::csv); false when it failed.
    bool ExportCsv(const QString &path);

    // The linear count axis: up to the top, with its ticks at whole counts.
    struct CountScale
    {
        quint64 top = 1;
        int ticks = 2; // top / step + 1
    };
    static CountScale countScale(quint64 highest);

    // Beside the greyed "Zkontrolovat spojení" while another dialog is open.
    static inline const QString CheckWaitsText =
        QStringLiteral("Nejdříve zavřete otevřený dialog: kontrola by použila jeho připojení.");

    // Where the checks look for the module (what the connection dialog last
    // tried); the user may change it. Without it, the record's address and rate.
    void setCheckTarget(quint8 address, quint32 baud);
    // The checks send on the technician's connection: not while another
    // dialog works with it.
    void setOtherDialogOpen(bool open);
    bool checking() const { return m_checking; }

    // The wall clock of the rate chart (ms since 1970); tests set it.
    static inline std::function<qint64()> wallClock;

    // Stands for CheckDeviceHolders in tests; runs on a worker thread.
    static inline std::function<CheckStep(const QString &)> holdersCheck;

public slots:
    void Timer1Timer();
    void ResetButtonClick();
    void ExportButtonClick();
    void ErrorsOnlyCheckBoxClick();
    void LogAxisCheckBoxClick();
    void CheckButtonClick();
    void AssignButtonClick();
    void RefreshDevices();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fillLog();
    void fillRates();
    void runChecks(const std::optional<CheckStep> &holders);
    void updateCheckButton();
    bool m_otherDialogOpen = false;
    bool m_checking = false;
    bool m_targetSet = false;
    quint64 m_shownTransactions = ~0ull;
    qint64 m_shownSince = 0;
};

#endif
