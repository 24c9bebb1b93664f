#include "config/PrenosDialog.h"

#include "app/Otazka.h"
#include "app/StatusBar.h"

#include <QCloseEvent>
#include <QProgressBar>
#include <QPushButton>

QString TransferText::WriteStopped(int done, int total)
{
    return QStringLiteral(" Zápis přerušen po %1 z %2 bajtů.").arg(done).arg(total);
}

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
    // A long transfer repeats a figure for several bytes; repainting an
    // unchanged text would only slow it down.
    if (text != statusText()) {
        setStatusText(text);
        m_textMoved = true;
    }
}

bool TPrenosDialog::connectionReady()
{
    if (Data->ready())
        return true;
    setStatusText(NotConnectedText);
    return false;
}

Validation TPrenosDialog::showValidation(const Validation &validation)
{
    setStatusText(validation.statusText());
    return validation;
}

QProgressBar *TPrenosDialog::makeProgressBar()
{
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    // The status bar already says the figure; a bar without text also
    // repaints several times faster, which a 512-byte transfer feels.
    m_progress->setTextVisible(false);
    return m_progress;
}

void TPrenosDialog::step(int k, int n)
{
    // The bar moves with the status text, so that both repaint in one pass
    // (a pass per byte costs a long transfer several per cent of its time).
    if (m_progress && (m_textMoved || k == n))
        m_progress->setValue(n > 0 ? k * 100 / n : 100);
    m_textMoved = false;
}

TransferOutcome TPrenosDialog::runTransfer(const std::function<TransferOutcome()> &transfer, bool writing)
{
    if (m_busy)
        return {TransferOutcome::End::Refused};
    m_busy = true;
    m_writing = writing;
    if (m_progress)
        m_progress->setValue(0);
    const QList<QPushButton *> buttons = startButtons();
    for (QPushButton *b : buttons)
        b->setEnabled(false);
    const TransferOutcome outcome = transfer();
    for (QPushButton *b : buttons)
        b->setEnabled(true);
    m_busy = false;
    if (m_stopRequested) {
        m_stopRequested = false;
        // Stays open, so the technician sees how far the module was written.
        if (!outcome && m_writing)
            setStatusText(TransferText::WriteStopped(outcome.done, outcome.total));
    }
    m_writing = false;
    if (m_closeRequested)
        QDialog::reject();
    return outcome;
}

void TPrenosDialog::closeDuringTransfer()
{
    if (!m_writing) {
        m_closeRequested = true; // the read ends after the byte in flight
        return;
    }
    if (m_stopRequested || m_asking)
        return;
    // The write waits while the question is open.
    m_asking = true;
    m_stopRequested = rq::ask(this, windowTitle(), TransferText::StopWriteQuestion);
    m_asking = false;
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
    Work = Data->cfg;
    ZapisOkno(Work);
    setStatusText(QStringLiteral(" "));
}

void TPrenosDialog::reject()
{
    if (m_busy) {
        closeDuringTransfer();
        return;
    }
    QDialog::reject();
}

void TPrenosDialog::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        event->ignore();
        closeDuringTransfer();
        return;
    }
    QDialog::closeEvent(event);
}
