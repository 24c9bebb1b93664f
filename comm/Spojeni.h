#ifndef RQ_COMM_SPOJENI_H
#define RQ_COMM_SPOJENI_H

#include "comm/Kxxx638.h"
#include "comm/Linka.h"

#include <QString>

#include <array>
#include <functional>

struct TData;

// Opening a connection: what the connection dialog does with its fields and
// the record, written once so that every place that connects to a module
// (the connection dialog, the module search) leaves the record alike.

// The adapter and its parameters as the connection dialog takes them.
struct AdapterSettings
{
    quint8 kind = 0;     // 0 COMx, 1 PCI-638, 2 PCI-4638, 3 USB-4638, 4 RQ-4638
    quint16 comPort = 1; // passed to Init whole; the record keeps its low 8 bits
    quint16 isaBase = 0x300;
    QString ipAddress;
    quint32 udpPort = 5000;
    quint32 udpTimeout = 100;
};

namespace ConnectText {
inline const QString UnknownAdapter = QStringLiteral("Neznámý typ rozhraní");
inline const QString InProgress = QStringLiteral("Probíhá inicializace připojení");
inline const QString InitFailed = QStringLiteral("Chyba inicializace připojení - ");
inline const QString BadIp = QStringLiteral("Neplatná IP adresa");
inline const QString BadUdpPort = QStringLiteral("Neplatný UDP port");
inline const QString BadUdpTimeout = QStringLiteral("Neplatný UDP timeout");
inline const QString Connected = QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   ");
} // namespace ConnectText

// The third value every setup passes to SetConfig.
constexpr quint32 SetConfigThird = 2;

AdapterSettings AdapterSettingsOf(const TData &data);
void StoreAdapterSettings(TData &data, const AdapterSettings &settings);

// The adapter kinds' items, in kind order.
QStringList AdapterItems();
// Caption and text of the one field every adapter kind but 2 and 3 has (COM
// port, ISA base address, IP address); an empty caption for kinds 2 and 3.
QString AdapterFieldCaption(int kind);
QString AdapterFieldText(const AdapterSettings &settings, int kind);

// Takes the typed adapter fields into settings in the dialog's order: kind,
// then the field, then UDP port and UDP timeout (LAN converter), each stored
// as soon as it is valid. field comes back as the dialog shows it afterwards.
// Returns the status text of the first invalid field, or an empty text.
QString ReadAdapterFields(int kind, QString &field, const QString &udpPort, const QString &udpTimeout,
                          AdapterSettings &settings);

// The init block of the settings; word 0 of the LAN converter points into
// ip8bit, which must outlive every use of the block.
InitBlock MakeInitBlock(const AdapterSettings &settings, QByteArray &ip8bit);

// The reply timeout the connection setup works with at a baud rate: the LAN
// converter's own UDP timeout when it has one, else the baud rate table's.
quint32 SetupTimeoutMs(const AdapterSettings &settings, quint32 baud);

// One identification transaction (command 200) with D1..D4 = 0 and D0 as
// given (the previous reply's), tried once. Returns the error code; reply
// gets D1..D4.
using IdentReply = std::array<quint8, 4>;
quint8 IdentifyPart(quint8 kind, quint32 handle, quint8 address, quint8 subCode, quint8 &d0,
                    IdentReply &reply);
// The 15-character identity from the replies to sub-codes 0, 1 and 2:
// model name (8), " v.", firmware (4).
QString IdentityText(const std::array<IdentReply, 3> &replies);

using StatusSink = std::function<void(const QString &)>;

// Closes the record's open connection, if any, and leaves it not connected.
void CloseConnection(TData &data);

// With the record's adapter settings and init block in place: opens the
// adapter and sets the baud rate, without asking any module. True with the
// record connected and the open handle in the variable; on failure show got
// the connection setup's text and the record is not connected.
bool OpenConfigured(TData &data, quint32 &handle, quint32 baud, const StatusSink &show);

// The three identification transactions over the link, each repeated as its
// retries allow. Returns the first nonzero error code with its text, or 0
// with the identity.
quint8 IdentifyModule(const BusLink &link, quint8 address, QString &identity, QString &errorText);

// With the record's adapter settings and init block in place: opens and
// configures the adapter, identifies the module and, only when all of it
// succeeds, stores address, baud rate, identity, status text and handle.
// show gets the status texts as they come. True when connected.
bool ConnectRecord(TData &data, quint8 address, int baudIndex, const StatusSink &show);

// The whole setup from valid settings: closes the open connection, stores
// the settings and their init block in the record and connects.
bool ConnectWith(TData &data, const AdapterSettings &settings, quint8 address, int baudIndex,
                 const StatusSink &show);

#endif
