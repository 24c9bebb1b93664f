#ifndef RQ_APP_STATUSBAR_H
#define RQ_APP_STATUSBAR_H

#include <QLabel>
#include <QList>
#include <QStatusBar>

// A status bar of fixed panels. Each panel is a QLabel named Panel0, Panel1, ...
// whose text is exactly the status text. Setting a text repaints it at once,
// so progress stays visible while a sequence holds the event loop.
class TStatusBar : public QStatusBar
{
    Q_OBJECT
public:
    // One panel per width in pixels; the last panel takes the remaining room.
    explicit TStatusBar(const QList<int> &widths = {0}, QWidget *parent = nullptr);

    void setText(int panel, const QString &text);
    QString text(int panel = 0) const;
    QLabel *panel(int index) const { return m_panels.value(index); }
    int panelCount() const { return static_cast<int>(m_panels.size()); }

private:
    QList<QLabel *> m_panels;
};

#endif
