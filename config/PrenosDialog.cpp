#include "config/PrenosDialog.h"

#include "app/StatusBar.h"

#include <QCloseEvent>
#include <QPushButton>

TPrenosDialog::TPrenosDialog(QWidget *parent) : QDialog(parent)
{
    StatusBar1 = new TStatusBar({0}, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
}

QString TPrenosDialog::statusText() const
{
    return StatusBar1->text(0);
}

void TPrenosDialog::setStatusText(const QString &text)
{
    StatusBar1->setText(0, text);
}

void TPrenosDialog::status(const QString &text)
{
    setStatusText(text);
}

bool TPrenosDialog::connectionReady()
{
    if (Data->ready())
        return true;
    setStatusText(NotConnectedText);
    return false;
}

bool TPrenosDialog::runTransfer(const std::function<bool()> &transfer)
{
    if (m_busy)
        return false;
    m_busy = true;
    const QList<QPushButton *> buttons = startButtons();
    for (QPushButton *b : buttons)
        b->setEnabled(false);
    const bool done = transfer();
    for (QPushButton *b : buttons)
        b->setEnabled(true);
    m_busy = false;
    if (m_closeRequested)
        QDialog::reject();
    return done;
}

void TPrenosDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TPrenosDialog::FormShow()
{
    if (!Data)
        return;
    CopyCFG(Work, Data->cfg);
    ZapisOkno(Work);
    setStatusText(QStringLiteral(" "));
}

void TPrenosDialog::reject()
{
    if (m_busy) {
        m_closeRequested = true; // the transfer ends after the byte in flight
        return;
    }
    QDialog::reject();
}

void TPrenosDialog::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        m_closeRequested = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
