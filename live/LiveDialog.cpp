#include "live/LiveDialog.h"

#include "app/Dekl.h"
#include "app/StatusBar.h"
#include "core/Pauza.h"
#include "live/ValuePanel.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

TLiveDialog::TLiveDialog(QWidget *parent) : QDialog(parent)
{
    m_layout = new QVBoxLayout(this);
    m_grid = new QGridLayout;
    m_grid->setVerticalSpacing(0);
    m_layout->addLayout(m_grid);
}

void TLiveDialog::addFooter(int interval, QPushButton *leftButton, const QList<int> &panels)
{
    auto *buttons = new QHBoxLayout;
    if (leftButton)
        buttons->addWidget(leftButton);
    buttons->addStretch();
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setAutoDefault(false);
    buttons->addWidget(Button1);
    m_layout->addLayout(buttons);
    connect(Button1, &QPushButton::clicked, this, &TLiveDialog::Button1Click);

    StatusBar1 = new TStatusBar(panels, this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    m_layout->addWidget(StatusBar1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(interval);
    connect(Timer1, &QTimer::timeout, this, &TLiveDialog::Timer1Timer);
}

void TLiveDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        FormShow();
        Timer1->start();
    }
}

void TLiveDialog::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        Timer1->stop();
    QDialog::hideEvent(event);
}

void TLiveDialog::FormShow()
{
    if (Data)
        m_address = Data->moduleAddress;
}

void TLiveDialog::Button1Click()
{
    reject();
}

bool TLiveDialog::canSend()
{
    if (!Data)
        return false;
    if (!Data->ready()) {
        StatusBar1->setText(0, NotConnectedText);
        return false;
    }
    return true;
}

quint8 TLiveDialog::transact(quint8 command, quint8 subCode, ModuleBytes &d)
{
    return Transact(*Data, m_address, command, subCode, d);
}

void TLiveDialog::showResult(quint8 error)
{
    StatusBar1->setText(0, QStringLiteral(" ") + ErrorText(Data->adapterKind, error));
}

void TLiveDialog::readBits(quint8 command, quint8 subCode, const std::array<QLabel *, 32> &labels)
{
    if (!canSend()) {
        showStale(labels);
        return;
    }
    ModuleBytes d{};
    const quint8 error = transact(command, subCode, d);
    if (error != 0) {
        showResult(error);
        showStale(labels);
        return;
    }
    for (int n = 0; n < 32; ++n)
        labels[static_cast<std::size_t>(n)]->setText(BitText(d[static_cast<std::size_t>(1 + n / 8)], n % 8));
    showStale(labels, false);
    showResult(0);
}

void TLiveDialog::showStale(std::span<QLabel *const> labels, bool stale)
{
    for (QLabel *label : labels)
        label->setEnabled(!stale);
}

void TCycleDialog::done(int result)
{
    if (m_inCycle) {
        // The cycle still uses the window: it stops before its next
        // transaction and closes the dialog on its way out.
        m_closeRequested = true;
        m_closeResult = result;
        return;
    }
    Timer1->stop();
    QDialog::done(result);
}

void TCycleDialog::Timer1Timer()
{
    if (!Data || m_inCycle)
        return;
    Timer1->stop();
    m_inCycle = true;
    const QPointer<TCycleDialog> self(this);
    cycle(self);
    if (!self)
        return; // destroyed while events were processed: touch nothing
    m_inCycle = false;
    if (m_closeRequested) {
        m_closeRequested = false;
        done(m_closeResult);
        return;
    }
    Timer1->start(CyclePause);
}

bool TCycleDialog::keepGoing(const QPointer<TCycleDialog> &self)
{
    rq::processEvents();
    return self && !m_closeRequested && Data;
}
