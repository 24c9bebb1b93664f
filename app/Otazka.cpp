#include "app/Otazka.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
rq::AskHook &askHook()
{
    static rq::AskHook hook;
    return hook;
}
} // namespace

bool rq::ask(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("Otazka"));
    box.setTextFormat(Qt::PlainText); // questions name files: shown as they are, never as markup
    QPushButton *yes = box.addButton(QStringLiteral("Ano"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Ne"), QMessageBox::NoRole);
    yes->setObjectName(QStringLiteral("Ano"));
    no->setObjectName(QStringLiteral("Ne"));
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    if (askHook())
        return askHook()(box);
    execModal(box);
    return box.clickedButton() == yes;
}

int rq::execModal(QDialog &dialog)
{
    if (dialog.parentWidget())
        dialog.setWindowModality(Qt::WindowModal);
    return dialog.exec();
}

namespace {
QString runFileDialog(QWidget *parent, const QString &caption, const QString &preset, const QString &filter,
                      QFileDialog::AcceptMode mode, QFileDialog::Options options, const QString &kind)
{
    QFileDialog dialog(parent, caption, kind.isEmpty() ? preset : rq::FolderMemory::startPath(kind, preset),
                       filter);
    dialog.setOptions(options);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (rq::execModal(dialog) != QDialog::Accepted)
        return {};
    if (kind.isEmpty())
        return dialog.selectedFiles().value(0);
    const QString chosen = rq::FolderMemory::resolve(kind, dialog.selectedFiles().value(0));
    rq::FolderMemory::remember(kind, chosen);
    return chosen;
}
} // namespace

QString rq::openFileName(QWidget *parent, const QString &caption, const QString &preset,
                         const QString &filter, const QString &folderKind)
{
    return runFileDialog(parent, caption, preset, filter, QFileDialog::AcceptOpen, {}, folderKind);
}

QString rq::saveFileName(QWidget *parent, const QString &caption, const QString &preset,
                         const QString &filter, QFileDialog::Options options, const QString &folderKind)
{
    return runFileDialog(parent, caption, preset, filter, QFileDialog::AcceptSave, options, folderKind);
}

rq::AskHook rq::setAskHook(AskHook hook)
{
    AskHook previous = std::move(askHook());
    askHook() = std::move(hook);
    return previous;
}
