#include "config/Prenos.h"

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "comm/Linka.h"
#include "comm/Opakovani.h"
#include "comm/Prikazy.h"
#include "core/Pauza.h"

#include <vector>

int StandardProgress(int k, int n)
{
    return n > 0 ? (k * 100) / n : 100;
}

int EepromProgress(int k, int n)
{
    return n > 0 ? ((k - 1) * 100) / n : 100;
}

namespace {
QString progressText(const QString &head, int percent)
{
    return head + QString::number(percent) + QStringLiteral(" %)");
}

// Connection parameters, taken once for the whole sequence.
struct Link
{
    BusLink bus;
    quint8 address;
    quint8 kind() const { return bus.kind; }

    // once: a single try, whatever the link's retries (0 unless the program
    // turned repeating on).
    quint8 run(quint8 command, quint8 page, quint8 address_, quint8 value, quint8 *read,
               bool once = false) const
    {
        ModuleBytes d{0, address_, address_, value, value};
        BusLink single;
        if (once) {
            single.kind = bus.kind;
            single.handle = bus.handle;
        }
        const quint8 error = (once ? single : bus).transact(address, command, page, d);
        if (read)
            *read = d[3];
        return error;
    }
};

// The end of a sequence: its text, if it has one, into the report.
TransferOutcome ended(TransferReport &report, const TransferOutcome &outcome, bool write, const Link &link)
{
    const QString text = TransferEndText(outcome, write, link.kind());
    if (!text.isEmpty())
        report.status(text);
    return outcome;
}
} // namespace

QString TransferEndText(const TransferOutcome &outcome, bool write, quint8 adapterKind)
{
    switch (outcome.end) {
    case TransferOutcome::End::Done:
        return write ? TransferText::WriteDone : TransferText::ReadDone;
    case TransferOutcome::End::Differs:
        return TransferText::WriteMismatch;
    case TransferOutcome::End::Failed:
        return QLatin1Char(' ') + ErrorText(adapterKind, outcome.error);
    case TransferOutcome::End::CutShort:
    case TransferOutcome::End::Refused:
        break;
    }
    return {};
}

TransferOutcome ReadSequence(const TData *data, TransferReport &report, const QList<TransferStep> &steps,
                             const ProgressFigure &progress)
{
    using End = TransferOutcome::End;
    const int n = static_cast<int>(steps.size());
    if (!data || !data->ready())
        return {End::Refused, 0, n};
    report.status(TransferText::ReadingStarts);
    const Link link{BusLink::of(*data), data->moduleAddress};
    for (int k = 1; k <= n; ++k) {
        const TransferStep &s = steps.at(k - 1);
        quint8 value = 0;
        if (const quint8 error = link.run(CmdReadMemory, s.page, s.address, 0, &value))
            return ended(report, {End::Failed, k - 1, n, error}, false, link);
        *s.element = value;
        report.status(progressText(TransferText::Reading, progress(k, n)));
        report.step(k, n);
        rq::processEvents();
        rq::pause(1);
        // A stop asked for during the last byte comes too late to stop anything.
        if (k < n && report.cancelled())
            return {End::CutShort, k, n};
    }
    return ended(report, {End::Done, n, n}, false, link);
}

TransferOutcome WriteSequence(const TData *data, TransferReport &report, const QList<TransferStep> &steps,
                              const ProgressFigure &progress)
{
    using End = TransferOutcome::End;
    const int n = static_cast<int>(steps.size());
    if (!data || !data->ready())
        return {End::Refused, 0, n};
    std::vector<quint8> values;
    values.reserve(static_cast<std::size_t>(steps.size()));
    for (const TransferStep &s : steps)
        values.push_back(*s.element);
    report.status(TransferText::WritingStarts);
    const Link link{BusLink::of(*data), data->moduleAddress};
    for (int k = 1; k <= n; ++k) {
        const TransferStep &s = steps.at(k - 1);
        const quint8 v = values[static_cast<std::size_t>(k - 1)];
        // A read-back that did not arrive proves nothing either way: the
        // whole verified write is repeated. A read-back that differs is a
        // verdict and never repeated.
        quint8 back = 0;
        quint8 error = 0;
        for (int attempt = 0;; ++attempt) {
            error = link.run(CmdWriteMemory, s.page, s.address, v, nullptr);
            if (error != 0)
                break;
            rq::processEvents();
            rq::pause(1);
            error = link.run(CmdReadMemory, s.page, s.address, 0, &back, true);
            if (error == 0 || attempt >= link.bus.retries || !IsTransientError(error))
                break;
        }
        if (error != 0)
            return ended(report, {End::Failed, k - 1, n, error}, true, link);
        if (back != v)
            return ended(report, {End::Differs, k - 1, n}, true, link);
        report.status(progressText(TransferText::Writing, progress(k, n)));
        report.step(k, n);
        rq::processEvents();
        rq::pause(1);
        // A stop asked for during the last byte comes too late to stop anything.
        if (k < n && report.cancelled())
            return {End::CutShort, k, n};
    }
    return ended(report, {End::Done, n, n}, true, link);
}
