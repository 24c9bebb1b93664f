#ifndef RQ_COMM_SPOJENI_H
#define RQ_COMM_SPOJENI_H

#include <QString>

struct TData;

// Opening a connection to one module, without widgets: the connection setup
// dialog, the module search and the command-line tool all go through here,
// so a connection made anywhere leaves the record in the same state.

// Shown after a successful setup, followed by the module identity.
inline const QString ConnectedText = QStringLiteral("Připojení úspěšně inicializováno. Připojen modul   ");

// Result of opening and identifying.
struct ConnectOutcome
{
    bool ok = false;
    // What the connection setup shows: the success text with the identity,
    // or the error text (behind the init prefix when the adapter failed).
    QString text;
};

// Fills the record's init block from its adapter settings (COM port, ISA base
// address, or IP text, UDP port and UDP timeout). False for an adapter kind
// above 4 or an empty IP address, with the block then left all zero.
bool BuildInitBlock(TData &d);

// Closes the record's connection when one is open; the record is then not
// connected. The result of Done is not looked at.
void CloseConnection(TData &d);

// Opens the record's adapter kind with its init block and sets the baud rate
// with the reply timeout of that rate, without asking any module. On success
// the record is connected with the handle (address, identity and status text
// untouched); on failure the adapter is closed again unless Init itself
// failed, and the text is the connection setup's.
ConnectOutcome OpenConfigured(TData &d, quint32 &handle, quint32 baud);

// Opens the record's adapter kind with its init block, sets the baud rate
// with the reply timeout of that rate, and identifies the module at the
// address (command 200, sub-codes 0, 1, 2). The handle variable is the
// caller's copy. Only on success does the record get the identity, address,
// baud rate, status text "V pořádku" and the handle; on failure the adapter is
// closed again (unless Init itself failed) and the record is not connected.
ConnectOutcome OpenAndIdentify(TData &d, quint32 &handle, quint8 address, quint32 baud);

// The identification of the module at the address on an open adapter:
// command 200 with sub-codes 0, 1 and 2. Returns the first nonzero error code
// (the identity is then left as it was, and *errorText says why), or 0 with
// the 15-character identity.
quint8 IdentifyModule(quint8 kind, quint32 handle, quint8 address, QString &identity, QString *errorText = nullptr);

// The model name of an identity text ("RQ-3510  v.1.08" -> "RQ-3510").
QString ModelOfIdentity(const QString &identity);

// BuildInitBlock, CloseConnection and OpenAndIdentify in one, for callers
// that take the settings straight from the record.
ConnectOutcome ConnectRecord(TData &d, quint8 address, quint32 baud);

#endif
