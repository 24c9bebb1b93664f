#ifndef RQ_APP_OTAZKA_H
#define RQ_APP_OTAZKA_H

#include <QString>

#include <functional>

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

} // namespace rq

#endif
