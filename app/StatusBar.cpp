#include "app/StatusBar.h"

TStatusBar::TStatusBar(const QList<int> &widths, QWidget *parent) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    for (qsizetype i = 0; i < widths.size(); ++i) {
        auto *label = new QLabel(this);
        label->setObjectName(QStringLiteral("Panel%1").arg(i));
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        // Status texts carry library error texts, the module identity and
        // file names: shown as they are, never as markup.
        label->setTextFormat(Qt::PlainText);
        const bool last = i == widths.size() - 1;
        if (widths.at(i) > 0) {
            if (last)
                label->setMinimumWidth(widths.at(i));
            else
                label->setFixedWidth(widths.at(i));
        }
        addWidget(label, last ? 1 : 0);
        m_panels.append(label);
    }
}

void TStatusBar::setText(int panel, const QString &text)
{
    QLabel *label = m_panels.value(panel);
    if (!label)
        return;
    label->setText(text);
    // A panel keeps its width but grows when a text would be cut off (the
    // module identity in the main window's first panel, in a larger font).
    // Measured only for a panel of fixed width: shaping the text costs.
    if (label->maximumWidth() != QWIDGETSIZE_MAX) {
        const int needed = label->fontMetrics().horizontalAdvance(text) + 2 * label->frameWidth() + 8;
        if (label->maximumWidth() < needed)
            label->setFixedWidth(needed);
    }
    label->repaint();
}

QString TStatusBar::text(int panel) const
{
    QLabel *label = m_panels.value(panel);
    return label ? label->text() : QString();
}
