#include "dio/KonfigEEPROM.h"

#include "app/Otazka.h"
#include "app/StatusBar.h"
#include "core/SafeSave.h"
#include "dio/EepromFile.h"
#include "image/Obnova.h"
#include "image/Obraz.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

static_assert(std::tuple_size_v<decltype(TCFGRQ::eeprom)> == EepromFileSize);

TForm5::TForm5(QWidget *parent) : TPrenosDialog(parent)
{
    setWindowTitle(QStringLiteral(" Konfigurační EEPROM"));
    Button1 = makeButton("Button1", QStringLiteral("Zapsat do EEPROM"), &TForm5::Button1Click);
    Button2 = makeButton("Button2", QStringLiteral("Načíst z EEPROM"), &TForm5::Button2Click);
    Button3 = makeButton("Button3", QStringLiteral("Ok"), &TForm5::Button3Click);
    Button4 = makeButton("Button4", QStringLiteral("Cancel"), &TForm5::Button4Click);
    Button5 = makeButton("Button5", QStringLiteral("Procházet"), &TForm5::Button5Click);

    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    // The name changes only through "Procházet"; a typed name would be
    // ignored and the backup would land in another file than the one shown.
    Edit1->setReadOnly(true);
    Edit1->setMinimumWidth(320);
    Label1 = new QLabel(QStringLiteral("Název souboru"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setBuddy(Edit1);

    ProgressBar1 = makeProgressBar();

    chooseFile = [this](const QString &preset) { return runOpenDialog(preset); };

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(Edit1, 1);
    fileRow->addWidget(Button5);
    layout->addLayout(fileRow);
    auto *transferRow = new QHBoxLayout;
    transferRow->addWidget(Button2);
    transferRow->addWidget(Button1);
    transferRow->addStretch(1);
    layout->addSpacing(6);
    layout->addLayout(transferRow);
    layout->addWidget(ProgressBar1);
    layout->addSpacing(6);
    auto *closeRow = new QHBoxLayout;
    closeRow->addStretch(1);
    closeRow->addWidget(Button3);
    closeRow->addWidget(Button4);
    layout->addLayout(closeRow);
    layout->addWidget(StatusBar1);

    // Tab goes the way the window reads, and the dialog opens on the file
    // name: a stray Space or Enter must never start writing into the module.
    setTabOrder(Edit1, Button5);
    setTabOrder(Button5, Button2);
    setTabOrder(Button2, Button1);
    setTabOrder(Button1, Button3);
    setTabOrder(Button3, Button4);
    Edit1->setFocus();
}

QList<TransferStep> TForm5::steps(TCFGRQ &image)
{
    return EepromSteps(image.eeprom);
}

TransferOutcome TForm5::PrectiData(TCFGRQ &image)
{
    return ReadSequence(Data, *this, steps(image), EepromProgress);
}

TransferOutcome TForm5::ZapisData(TCFGRQ &image)
{
    return WriteSequence(Data, *this, steps(image), EepromProgress);
}

Validation TForm5::PrectiOkno(TCFGRQ &image)
{
    if (Edit1->text().isEmpty())
        Edit1->setText(image.eepromFileName);
    return showValidation({});
}

void TForm5::ZapisOkno(const TCFGRQ &image)
{
    Edit1->setText(image.eepromFileName);
}

bool TForm5::UlozSoubor(const TCFGRQ &image)
{
    const QString name = image.eepromFileName.isEmpty() ? DefaultEepromFileName : image.eepromFileName;
    if (SaveEepromFile(name, image.eeprom)) {
        if (Data)
            Data->lastEepromFile = QFileInfo(name).absoluteFilePath();
        return true;
    }
    setStatusText(EepromText::SaveFailed);
    return false;
}

bool TForm5::NactiSoubor(TCFGRQ &image)
{
    if (image.eepromFileName.isEmpty())
        image.eepromFileName = DefaultEepromFileName;
    if (LoadEepromFile(image.eepromFileName, image.eeprom)) {
        if (Data)
            Data->lastEepromFile = QFileInfo(image.eepromFileName).absoluteFilePath();
        return true;
    }
    setStatusText(EepromText::LoadFailed);
    return false;
}

QList<QPushButton *> TForm5::startButtons() const
{
    return {Button1, Button2, Button3, Button5};
}

QFileDialog *TForm5::openDialog()
{
    if (OpenDialog1)
        return OpenDialog1;
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setWindowTitle(QStringLiteral("Procházet"));
    // Qt's "*.*" wants a dot in the name, so "all files" matches "*" while its
    // caption stays as it was: each filter carries its pattern behind the
    // caption, and only the caption is shown.
    OpenDialog1->setOption(QFileDialog::HideNameFilterDetails);
    OpenDialog1->setNameFilters(
        {QStringLiteral("Konfigurační soubor (*.kee) (*.kee)"), QStringLiteral("Všechny soubory (*.*) (*)")});
    OpenDialog1->setDefaultSuffix(QStringLiteral("kee"));
    // One name serves for saving and loading, so a new name is accepted.
    OpenDialog1->setFileMode(QFileDialog::AnyFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    // The rest of the program speaks Czech; so does its file dialog.
    OpenDialog1->setLabelText(QFileDialog::LookIn, QStringLiteral("Složka:"));
    OpenDialog1->setLabelText(QFileDialog::FileName, QStringLiteral("Název souboru:"));
    OpenDialog1->setLabelText(QFileDialog::FileType, QStringLiteral("Typ souboru:"));
    OpenDialog1->setLabelText(QFileDialog::Accept, QStringLiteral("Vybrat"));
    OpenDialog1->setLabelText(QFileDialog::Reject, QStringLiteral("Storno"));
    return OpenDialog1;
}

std::optional<QString> TForm5::runOpenDialog(const QString &preset)
{
    openDialog();
    // A bare name lies in the current working directory.
    const QFileInfo info(preset.isEmpty() ? DefaultEepromFileName : preset);
    OpenDialog1->setDirectory(info.absolutePath());
    OpenDialog1->selectFile(info.fileName());
    if (rq::execModal(*OpenDialog1) != QDialog::Accepted)
        return std::nullopt;
    return OpenDialog1->selectedFiles().value(0);
}

QString TForm5::proposedFileName() const
{
    const QString folder = Data && !Data->lastEepromFile.isEmpty()
                               ? QFileInfo(Data->lastEepromFile).absolutePath()
                               : rq::FolderMemory::folder(rq::FolderKind::Eeprom);
    const std::optional<ModuleModel> model = Data ? ModelOfIdentity(Data->identity) : std::nullopt;
    return QDir(folder).filePath(
        BackupFileName(model ? ModelName(*model) : QString(), Data ? Data->moduleAddress : 0));
}

void TForm5::Button2Click()
{
    if (!Data || busy())
        return;
    // Each action starts its bar afresh: none shows the end of the last one.
    ProgressBar1->setValue(0);
    if (!connectionReady())
        return;
    // Another module's backup may lie under the name; it goes only when asked.
    const QString name = Work.eepromFileName.isEmpty() ? DefaultEepromFileName : Work.eepromFileName;
    if (rq::nameTaken(name) &&
        !rq::ask(this, windowTitle(),
                 QStringLiteral("Soubor „%1“ už existuje.\n\nNahradit ho konfigurací načtenou z modulu?")
                     .arg(QDir::toNativeSeparators(QFileInfo(name).absoluteFilePath())))) {
        setStatusText(EepromText::ReadCancelled);
        return;
    }
    // The file is written only from a complete read.
    if (runTransfer([this] { return PrectiData(Work); }))
        UlozSoubor(Work);
    if (!closeRequested())
        ZapisOkno(Work);
}

void TForm5::Button1Click()
{
    if (!Data || busy())
        return;
    ProgressBar1->setValue(0);
    if (!connectionReady())
        return;
    if (!PrectiOkno(Work).valid() || !NactiSoubor(Work))
        return;
    // Judged from what the tool knows without asking the module, so a restore
    // without risk sends exactly what it always did.
    const QStringList risks =
        RestoreRisks(Work.eeprom, QFileInfo(Work.eepromFileName).size(), Work.eepromFileName,
                     Data->moduleAddress, Data->baudRate, Data->identity);
    if (!risks.isEmpty() && !rq::ask(this, windowTitle(), RestoreQuestion(risks))) {
        setStatusText(EepromText::WriteCancelled);
        return;
    }
    runTransfer([this] { return ZapisData(Work); }, true);
}

void TForm5::Button3Click()
{
    if (!Data || busy())
        return;
    if (PrectiOkno(Work).valid())
        Data->cfg = Work;
    accept();
}

void TForm5::Button4Click()
{
    reject();
}

void TForm5::Button5Click()
{
    if (busy())
        return;
    // The default name tells no module from another: offer one that does.
    const bool isDefault = Work.eepromFileName.isEmpty() || Work.eepromFileName == DefaultEepromFileName;
    const std::optional<QString> chosen = chooseFile(isDefault ? proposedFileName() : Work.eepromFileName);
    if (!chosen)
        return;
    Work.eepromFileName = chosen->isEmpty() ? DefaultEepromFileName : *chosen;
    Edit1->setText(Work.eepromFileName);
    // Only the next "Procházet" starts there; the name resolves as it always did.
    if (!chosen->isEmpty())
        rq::FolderMemory::remember(rq::FolderKind::Eeprom, *chosen);
}
