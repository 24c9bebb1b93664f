#ifndef RQ_IMAGE_POROVNANI_H
#define RQ_IMAGE_POROVNANI_H

#include "config/PrenosDialog.h"
#include "image/Obraz.h"

#include <functional>
#include <optional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QRadioButton;
class QTableWidget;

// "Porovnání konfigurace": two configuration images side by side, decoded
// for one model, with the differing fields marked. The first image is a
// file; the second a file or the connected module, read as the EEPROM
// backup reads it (with its progress; "Přerušit", Cancel or closing ends
// the read after the byte in flight). The table can be copied as text.
class TFormPorovnani : public TPrenosDialog
{
    Q_OBJECT
public:
    explicit TFormPorovnani(QWidget *parent = nullptr);

    QComboBox *ComboBox1 = nullptr;       // model
    QLineEdit *Edit1 = nullptr;           // first file
    QPushButton *Button1 = nullptr;       // "Procházet" for the first file
    QRadioButton *RadioButton1 = nullptr; // second image: "Soubor"
    QRadioButton *RadioButton2 = nullptr; // second image: "Připojený modul"
    QLineEdit *Edit2 = nullptr;           // second file
    QPushButton *Button2 = nullptr;       // "Procházet" for the second file
    QPushButton *Button3 = nullptr;       // "Načíst z modulu"
    QPushButton *Button4 = nullptr;       // "Přerušit"
    QProgressBar *ProgressBar1 = nullptr;
    QCheckBox *CheckBox1 = nullptr; // "Jen rozdíly"
    QTableWidget *Table1 = nullptr; // field, first, second
    QPushButton *Button5 = nullptr; // "Kopírovat"
    QPushButton *Button6 = nullptr; // "Zavřít"

    // Asks for a file to compare: the chosen name, or nothing when the user
    // cancelled. Runs a file dialog unless replaced.
    using FileChooser = std::function<std::optional<QString>(const QString &preset)>;
    FileChooser chooseFile;

    // Loads a file as the first (side 0) or second (side 1) image; false,
    // with the reason in the status bar, when it holds fewer than 512 bytes.
    bool NactiSoubor(int side, const QString &path);
    // Reads the connected module as the second image; done when all 512
    // bytes were read.
    TransferOutcome PrectiData();
    ModuleModel model() const;
    void setModel(ModuleModel model);
    // The table as text, one line a row, columns separated by tabs.
    QString tableText() const;

    void ZapisOkno(const TCFGRQ &image) override;

public slots:
    void FormShow() override;
    void Button1Click(); // "Procházet" (first)
    void Button2Click(); // "Procházet" (second)
    void Button3Click(); // "Načíst z modulu"
    void Button4Click(); // "Přerušit"
    void Button5Click(); // "Kopírovat"
    void Button6Click(); // "Zavřít"

protected:
    QList<QPushButton *> startButtons() const override;

private:
    struct Side
    {
        std::optional<EepromBlock> block;
        QString title; // column heading
        qint64 size = 0;
    };
    void browse(int side);
    void refresh();
    std::optional<QString> runFileDialog(const QString &preset);

    Side m_sides[2];
    bool m_modelChosen = false;
};

#endif
