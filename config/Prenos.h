#ifndef RQ_CONFIG_PRENOS_H
#define RQ_CONFIG_PRENOS_H

#include <QList>
#include <QString>

#include <functional>

struct TData;

// One byte of the configuration memory and the image element that holds it.
struct TransferStep
{
    quint8 page = 0;    // sent as the sub-code
    quint8 address = 0; // sent in D1 and D2
    quint8 *element = nullptr;
};

// Where a sequence reports. status() shows a text at once (the sequences run
// on the user-interface thread); step() follows every completed byte, for a
// progress bar; cancelled() is asked between bytes, so a dialog that closes
// during a long transfer ends it after the byte in flight (after the last
// byte there is nothing left to stop, and the sequence completes).
class TransferReport
{
public:
    virtual ~TransferReport() = default;
    virtual void status(const QString &text) = 0;
    virtual void step(int k, int n)
    {
        Q_UNUSED(k)
        Q_UNUSED(n)
    }
    virtual bool cancelled() const { return false; }
};

// Progress figure shown after step k of n.
using ProgressFigure = std::function<int(int k, int n)>;
int StandardProgress(int k, int n); // (k x 100) div n
int EepromProgress(int k, int n);   // ((k - 1) x 100) div n

namespace TransferText {
inline const QString Reading = QStringLiteral(" Probíhá čtení konfigurace z modulu (");
inline const QString ReadingStarts = QStringLiteral(" Probíhá čtení konfigurace z modulu (0 %)");
inline const QString Writing = QStringLiteral(" Probíhá zápis konfigurace do modulu (");
inline const QString WritingStarts = QStringLiteral(" Probíhá zápis konfigurace do modulu (0 %)");
inline const QString ReadDone = QStringLiteral(" Konfigurace přečtena.");
inline const QString WriteDone = QStringLiteral(" Konfigurace zapsána.");
inline const QString WriteMismatch = QStringLiteral(" Chyba zápisu dat.");
} // namespace TransferText

// How a sequence ended: callers decide by it, and the status texts are made
// from it.
struct TransferOutcome
{
    enum class End {
        Done,     // every byte read, or written and verified
        CutShort, // stopped between two bytes, as asked
        Refused,  // nothing sent: no ready connection, or another transfer runs
        Failed,   // the adapter reported error
        Differs,  // a byte read back otherwise than it was written
    };
    End end = End::Refused;
    int done = 0;     // bytes completed (read, or written and verified) before the end
    int total = 0;    // bytes of the sequence
    quint8 error = 0; // the adapter's code, when Failed

    bool ok() const { return end == End::Done; }
    explicit operator bool() const { return ok(); }
};

// The text a sequence ends with in its report: done, the difference or the
// adapter's error (adapterKind words it); none when cut short or refused,
// where the caller says how far it got.
QString TransferEndText(const TransferOutcome &outcome, bool write, quint8 adapterKind);

// Reads every step's byte (command 102) into its element, in order. Does
// nothing when the connection is not ready. Stops at the first error with the
// error text; elements read before stay. Done when every byte was read.
TransferOutcome ReadSequence(const TData *data, TransferReport &report, const QList<TransferStep> &steps,
                             const ProgressFigure &progress = StandardProgress);

// Writes every step's element (command 103) and verifies it by reading it
// back (command 102), strictly in order. The values are taken before the
// first byte goes out; the elements are never changed. Stops at the first
// error or difference; nothing is rolled back. Done when every byte was
// written and verified.
TransferOutcome WriteSequence(const TData *data, TransferReport &report, const QList<TransferStep> &steps,
                              const ProgressFigure &progress = StandardProgress);

#endif
