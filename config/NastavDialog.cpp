#include "config/NastavDialog.h"

#include "app/StatusBar.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

TNastavDialog::TNastavDialog(QWidget *parent) : TPrenosDialog(parent)
{
    auto *layout = new QVBoxLayout(this);
    m_body = new QVBoxLayout;
    layout->addLayout(m_body);
    m_buttons = new QHBoxLayout;
    layout->addLayout(m_buttons);
    const auto button = [this](const char *name, const QString &text, void (TNastavDialog::*slot)()) {
        QPushButton *b = makeButton(name, text, slot);
        m_buttons->addWidget(b);
        return b;
    };
    Button1 = button("Button1", QStringLiteral("Zapsat"), &TNastavDialog::Button1Click);
    Button2 = button("Button2", QStringLiteral("Přečíst"), &TNastavDialog::Button2Click);
    Button3 = button("Button3", QStringLiteral("Ok"), &TNastavDialog::Button3Click);
    Button4 = button("Button4", QStringLiteral("Cancel"), &TNastavDialog::Button4Click);
    layout->addWidget(StatusBar1);
    reserveStatusWidth(
        {TransferText::Reading + QStringLiteral("100 %)"), TransferText::Writing + QStringLiteral("100 %)")});
}

void TNastavDialog::reserveStatusWidth(const QStringList &texts)
{
    QLabel *panel = StatusBar1->panel(0);
    const QFontMetrics metrics(panel->font());
    int width = panel->minimumWidth();
    for (const QString &text : texts)
        width = std::max(width, metrics.horizontalAdvance(text) + 2 * panel->frameWidth() + 8);
    panel->setMinimumWidth(width);
}

QComboBox *TNastavDialog::makeComboBox(int number, const QStringList &items)
{
    auto *box = new QComboBox(this);
    box->setObjectName(QStringLiteral("ComboBox") + QString::number(number));
    box->addItems(items);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box;
}

void TNastavDialog::showCode(QComboBox *box, int code)
{
    box->setCurrentIndex(code >= 0 && code < box->count() ? code : -1);
}

quint8 TNastavDialog::takeCode(const QComboBox *box, quint8 previous)
{
    const int index = box->currentIndex();
    return index >= 0 ? static_cast<quint8>(index) : previous;
}

QLabel *TNastavDialog::heading(const QString &text)
{
    auto *l = new QLabel(text, this);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    return l;
}

QGridLayout *TNastavDialog::twoColumnInputs(const QList<QComboBox *> &boxes)
{
    auto *grid = new QGridLayout;
    const int half = static_cast<int>(boxes.size() + 1) / 2;
    for (int column = 0; column < 2; ++column) {
        grid->addWidget(heading(QStringLiteral("Rozsah")), 0, 3 * column + 1);
        for (int row = 0; row < half; ++row) {
            const int i = column * half + row;
            if (i >= boxes.size())
                break;
            auto *label = new QLabel(QStringLiteral("AIN") + QString::number(i), this);
            label->setObjectName(QStringLiteral("LabelAIN") + QString::number(i));
            label->setBuddy(boxes.at(i));
            grid->addWidget(label, row + 1, 3 * column);
            grid->addWidget(boxes.at(i), row + 1, 3 * column + 1);
        }
    }
    grid->setColumnMinimumWidth(2, 24); // gap between the columns
    return grid;
}

void TNastavDialog::setModel(const QString &model)
{
    m_model = model;
    LabelModel = new QLabel(this);
    LabelModel->setObjectName(QStringLiteral("LabelModel"));
    LabelModel->setTextFormat(Qt::PlainText);
    QFont bold = LabelModel->font();
    bold.setBold(true);
    LabelModel->setFont(bold);
    QPalette red = LabelModel->palette();
    red.setColor(QPalette::WindowText, Qt::darkRed);
    LabelModel->setPalette(red);
    LabelModel->setVisible(false);
    m_body->insertWidget(0, LabelModel);
}

void TNastavDialog::FormShow()
{
    if (LabelModel && Data) {
        // Only a module that answers now counts; an identity left from an
        // earlier connection does not.
        const QString connected = Data->ready() ? ModelNameOfIdentity(Data->identity) : QString();
        const bool other = !connected.isEmpty() && connected.compare(m_model, Qt::CaseInsensitive) != 0;
        LabelModel->setText(
            other ? QStringLiteral("Pozor: připojený modul je %1, toto nastavení je určeno pro %2.")
                        .arg(connected, m_model)
                  : QString());
        if (other == LabelModel->isHidden()) {
            LabelModel->setVisible(other);
            // Decided while the window opens: fit it to the line.
            layout()->activate();
            adjustSize();
        }
    }
    TPrenosDialog::FormShow();
}

QList<QPushButton *> TNastavDialog::startButtons() const
{
    return {Button1, Button2, Button3};
}

TransferOutcome TNastavDialog::PrectiData(TCFGRQ &image)
{
    return ReadSequence(Data, *this, steps(image));
}

TransferOutcome TNastavDialog::ZapisData(TCFGRQ &image)
{
    return WriteSequence(Data, *this, steps(image));
}

void TNastavDialog::Button2Click()
{
    if (!Data || busy() || !connectionReady())
        return;
    runTransfer([this] { return PrectiData(Work); });
    // Also after a failure: the bytes read so far beside the former values.
    if (!closeRequested())
        ZapisOkno(Work);
}

void TNastavDialog::Button1Click()
{
    if (!Data || busy() || !connectionReady())
        return;
    if (PrectiOkno(Work).valid())
        runTransfer([this] { return ZapisData(Work); }, true);
}

void TNastavDialog::Button3Click()
{
    if (!Data || busy())
        return;
    if (PrectiOkno(Work).valid())
        Data->cfg = Work;
    accept();
}

void TNastavDialog::Button4Click()
{
    reject();
}
