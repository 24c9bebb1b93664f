#ifndef RQ_DIO_KONFIGEEPROM_H
#define RQ_DIO_KONFIGEEPROM_H

#include "config/PrenosDialog.h"
#include "dio/EepromFile.h"

#include <functional>
#include <optional>

class QFileDialog;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

// Backup and restore of a module's whole configuration memory (both pages,
// 512 bytes) through an EEPROM file. "Načíst z EEPROM" reads the module and
// saves the file; "Zapsat do EEPROM" loads the file and writes it into the
// module, verifying every byte. The file name changes only through
// "Procházet"; "Ok" keeps block and name in the record for this run.
//
// Transfers are guarded as in the settings dialogs (TPrenosDialog); here
// "Procházet" is disabled during a transfer too. Of the working copy only the
// EEPROM block and the file name are used.
//
// Two questions keep a technician from harm he cannot see: a restore that
// would move the module to another address or baud rate, or that does not
// fit the connected model or is no 512-byte image, says so first; and a
// backup never replaces an existing file without asking.
class TForm5 : public TPrenosDialog
{
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);

    QLabel *Label1 = nullptr;           // "Název souboru"
    QLineEdit *Edit1 = nullptr;         // the file name, shown only
    QPushButton *Button1 = nullptr;     // "Zapsat do EEPROM"
    QPushButton *Button2 = nullptr;     // "Načíst z EEPROM"
    QPushButton *Button3 = nullptr;     // "Ok"
    QPushButton *Button4 = nullptr;     // "Cancel"
    QPushButton *Button5 = nullptr;     // "Procházet"
    QFileDialog *OpenDialog1 = nullptr; // made on the first "Procházet" (a file dialog starts threads)
    QProgressBar *ProgressBar1 = nullptr;

    // Asks for the file, preset with the current name: the chosen name, or
    // nothing when the user cancelled. Runs OpenDialog1 unless replaced.
    using FileChooser = std::function<std::optional<QString>(const QString &preset)>;
    FileChooser chooseFile;
    // OpenDialog1, made and set up when first needed.
    QFileDialog *openDialog();
    // The name "Procházet" offers instead of the default one: model, bus
    // address and date ("RQ-3510_a1_2026-12-07.kee") in the folder of the
    // last file used, else in the folder "Procházet" last went to (kept
    // per user, rq::FolderMemory), else in the home folder.
    QString proposedFileName() const;

    // Page 0 addresses 0..255, then page 1 addresses 0..255, onto the block.
    static QList<TransferStep> steps(TCFGRQ &image);

    TransferOutcome PrectiData(TCFGRQ &image); // done when all 512 bytes were read
    TransferOutcome ZapisData(TCFGRQ &image);  // done when all 512 bytes were written and verified
    Validation PrectiOkno(TCFGRQ &image);      // always valid
    void ZapisOkno(const TCFGRQ &image) override;
    bool UlozSoubor(const TCFGRQ &image);
    bool NactiSoubor(TCFGRQ &image); // true when all 512 bytes were loaded

public slots:
    void Button1Click(); // "Zapsat do EEPROM"
    void Button2Click(); // "Načíst z EEPROM"
    void Button3Click(); // "Ok"
    void Button4Click(); // "Cancel"
    void Button5Click(); // "Procházet"

protected:
    QList<QPushButton *> startButtons() const override;

private:
    std::optional<QString> runOpenDialog(const QString &preset);
};

#endif
