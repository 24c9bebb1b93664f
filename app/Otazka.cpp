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
    QPushButton *yes = box.addButton(QStringLiteral("Ano"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("Ne"), QMessageBox::NoRole);
    yes->setObjectName(QStringLiteral("Ano"));
    no->setObjectName(QStringLiteral("Ne"));
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    if (askHook())
        return askHook()(box);
    box.exec();
    return box.clickedButton() == yes;
}

rq::AskHook rq::setAskHook(AskHook hook)
{
    AskHook previous = std::move(askHook());
    askHook() = std::move(hook);
    return previous;
}
