// Shared pieces of the settings dialog tests: a record connected to the
// recording test adapter, a dialog that records every status text, and the
// expected transactions and progress texts.
#ifndef RQ_TESTS_CONFIG_CONFIGTEST_H
#define RQ_TESTS_CONFIG_CONFIGTEST_H

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "config/NastavDialog.h"
#include "support/Fixtures.h"
#include "support/TestAdapter.h"

#include <QComboBox>
#include <QTest>

constexpr quint8 TestModule = 5;

// Connects the record to the test adapter as a successful setup would.
inline void ConnectTestRecord(TData &data)
{
    QVERIFY(ConnectThroughTestAdapter(data, TestModule));
}

inline void DisconnectTestRecord(TData &data)
{
    if (data.handle)
        CloseAdapter(4, &data.handle);
    data.connected = false;
}

// A dialog whose status texts are all kept, in order.
template <class Dialog> class Recording : public Dialog
{
public:
    explicit Recording(TData *data)
    {
        this->Data = data;
        this->FormShow();
    }
    QStringList texts;

protected:
    void status(const QString &text) override
    {
        texts << text;
        Dialog::status(text);
    }
};

inline QStringList ProgressTexts(bool reading, const QList<int> &figures)
{
    const QString head = reading ? QStringLiteral(" Probíhá čtení konfigurace z modulu (")
                                 : QStringLiteral(" Probíhá zápis konfigurace do modulu (");
    QStringList list{head + QStringLiteral("0 %)")};
    for (int f : figures)
        list << head + QString::number(f) + QStringLiteral(" %)");
    list << (reading ? QStringLiteral(" Konfigurace přečtena.") : QStringLiteral(" Konfigurace zapsána."));
    return list;
}

// Command 102 for each address of page 0.
inline QList<TaRequest> ReadRequests(const QList<int> &addresses)
{
    QList<TaRequest> list;
    for (int a : addresses)
        list.append({TestModule, 102, 0, {0, quint8(a), quint8(a), 0, 0}});
    return list;
}

// Command 103 and its read-back for each (address, value) of page 0.
inline QList<TaRequest> WriteRequests(const QList<std::pair<int, int>> &bytes)
{
    QList<TaRequest> list;
    for (const auto &[a, v] : bytes) {
        list.append({TestModule, 103, 0, {0, quint8(a), quint8(a), quint8(v), quint8(v)}});
        list.append({TestModule, 102, 0, {0, quint8(a), quint8(a), 0, 0}});
    }
    return list;
}

inline QStringList Items(const QComboBox *box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

#endif
