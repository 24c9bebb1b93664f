#ifndef RQ_APP_OTAZKA_H
#define RQ_APP_OTAZKA_H

#include "core/Slozky.h"

#include <QFileDialog>
#include <QString>

#include <functional>

class QDialog;
class QMessageBox;
class QWidget;

// The one question of the program before a risky action.
namespace rq {

// A message box with the buttons "Ano" (YesRole) and "Ne" (NoRole, also the
// answer of Esc and the default, so a stray Enter risks nothing). True for
// "Ano".
bool ask(QWidget *parent, const QString &title, const QString &text);

// Answers instead of the user: the hook gets the box as it would be shown
// and returns the answer; the box is then not shown. An empty hook restores
// the real behaviour. Returns the previous hook.
using AskHook = std::function<bool(QMessageBox &box)>;
AskHook setAskHook(AskHook hook);

// Runs a message box or file dialog modal to its own window only: a
// question inside one dialog blocks that dialog and the main window, never
// the diagnostics window beside them. QDialog::exec's result.
int execModal(QDialog &dialog);

// The file dialogs of the program, run as execModal does. "" when cancelled.
// With a kind of file (rq::FolderKind) the dialog starts in the folder last
// used for that kind (FolderMemory::startPath), a name returned without a
// folder lies there, and the folder chosen is remembered.
QString openFileName(QWidget *parent, const QString &caption, const QString &preset, const QString &filter,
                     const QString &folderKind = {});
QString saveFileName(QWidget *parent, const QString &caption, const QString &preset, const QString &filter,
                     QFileDialog::Options options = {}, const QString &folderKind = {});

} // namespace rq

#endif
