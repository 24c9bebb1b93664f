#ifndef RQ_DIAG_LINKSTATS_H
#define RQ_DIAG_LINKSTATS_H

#include "comm/Kxxx638.h"

#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// What the bus did since the connection was set up: transactions, errors by
// code, reply times and the last transactions. The binding feeds it with
// every module transaction; the diagnostics dialog only reads it. Everything
// runs on the user-interface thread, like the transactions themselves.

// One module transaction as it went over the binding.
struct LinkTransaction
{
    qint64 time = 0; // ms since 1970 (UTC), when the request was sent
    quint32 durationUs = 0;
    quint8 address = 0, command = 0, subCode = 0;
    quint8 error = 0;
    std::array<quint8, 5> sent{};     // D0..D4 of the request
    std::array<quint8, 5> received{}; // D0..D4 after the transaction
};

// Bins of the reply-time chart, in microseconds: [lower, next lower). A
// failed transaction that ended just past a bin's upper end (within a tenth)
// is a timeout that waited for it: it counts in that bin, at the timeout.
struct LinkHistogramBin
{
    quint32 fromUs = 0;
    quint32 toUs = 0; // 0 for the last, open bin
    quint64 replies = 0;
    quint64 errors = 0;
};

// Replies and errors within one second of the wall clock.
struct LinkRate
{
    qint64 second = 0; // seconds since 1970 (UTC)
    quint32 replies = 0;
    quint32 errors = 0;
};

struct LinkErrorCount
{
    quint8 code = 0;
    quint64 count = 0;
    QString text;
};

class LinkStats : public TransactionObserver
{
public:
    static constexpr int RingSize = 1000;
    static constexpr int RateSeconds = 600; // the rate chart's ten minutes

    static LinkStats &instance();

    // A new connection (or the user's reset): counters, times and the log
    // start from nothing.
    void restart(bool byUser = false);
    // Whether the counting started with the user's reset rather than a connection.
    bool restartedByUser() const { return m_byUser; }
    // The binding's hook when an adapter opens: restart(), unless paused.
    void connectionOpened() override
    {
        if (!m_paused)
            restart();
    }
    // The binding's hook: the time a transaction starts (monotonic µs),
    // then what it sent and got. Costs a few array writes.
    qint64 clock() const override { return m_clock(); }
    void record(quint8 kind, const quint32 *request, quint8 error, const std::array<quint8, 5> &received,
                qint64 startedUs) override;

    // Transactions of the checks of the diagnostics dialog are not the
    // connection's traffic: they pass uncounted while a Pause lives.
    class Pause
    {
    public:
        Pause() : m_was(instance().m_paused) { instance().m_paused = true; }
        ~Pause() { instance().m_paused = m_was; }
        Pause(const Pause &) = delete;
        Pause &operator=(const Pause &) = delete;

    private:
        bool m_was;
    };

    qint64 since() const { return m_startWallMs; } // ms since 1970 of restart()
    quint64 transactions() const { return m_transactions; }
    quint64 errors() const { return m_transactions - m_replies; }
    quint64 replies() const { return m_replies; }
    // Every error code seen, ascending, with the text the library gave when it first occurred.
    QList<LinkErrorCount> errorCounts() const;
    quint64 errorCount(quint8 code) const { return m_errorCounts[code]; }

    // Reply times of the successful transactions, in µs (0 when there was none).
    // Median and 95th percentile by nearest rank; exact below 2048 µs, within
    // 0.1 % above.
    quint32 minUs() const { return m_replies ? m_minUs : 0; }
    quint32 maxUs() const { return m_maxUs; }
    quint32 percentileUs(double p) const;
    QList<LinkHistogramBin> histogram() const;

    // Replies and errors in each second of the last RateSeconds up to the
    // one holding nowMs (ms since 1970), oldest first; seconds before the
    // counting started are left out.
    QList<LinkRate> rates(qint64 nowMs) const;

    // The last transactions (at most RingSize), oldest first.
    QList<LinkTransaction> log() const;

    // Tests replace the clock (monotonic µs).
    using ClockFn = qint64 (*)();
    ClockFn setClock(ClockFn clock);

private:
    LinkStats();
    static int fineIndex(quint32 us);
    static quint32 fineValue(int index);
    static int chartIndex(quint32 us);
    static int errorChartIndex(quint32 us);

    ClockFn m_clock;
    bool m_paused = false;
    bool m_byUser = false;
    qint64 m_startWallMs = 0;
    qint64 m_startUs = 0;
    quint64 m_transactions = 0;
    quint64 m_replies = 0;
    quint32 m_minUs = 0;
    quint32 m_maxUs = 0;
    std::array<quint64, 256> m_errorCounts{};
    std::array<QString, 256> m_errorTexts;
    std::vector<quint64> m_fine;         // reply times, fine bins
    std::vector<quint64> m_chartReplies; // chart bins
    std::vector<quint64> m_chartErrors;
    std::array<LinkRate, RateSeconds> m_rates{}; // second n at n % RateSeconds
    std::array<LinkTransaction, RingSize> m_ring{};
    int m_ringNext = 0;
};

#endif
