#include "diag/LinkStats.h"

#include "comm/Kxxx638.h"

#include <QDateTime>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>

namespace {

qint64 steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Fine bins: one per microsecond below 2048, then 1024 per power of two.
constexpr int ExactBins = 2048;
constexpr int FineBins = ExactBins + 21 * 1024;

// Lower bounds of the chart bins in µs: a 1-2-5 series from 0.1 ms to 1 s.
constexpr std::array<quint32, 14> ChartFrom = {0,     100,   200,   500,    1000,   2000,   5000,
                                               10000, 20000, 50000, 100000, 200000, 500000, 1000000};

} // namespace

LinkStats &LinkStats::instance()
{
    static LinkStats stats;
    return stats;
}

LinkStats::LinkStats() : m_clock(&steadyUs)
{
    restart();
    SetTransactionObserver(this);
}

namespace {
// Counting starts with the program, not with the first look at the counters.
[[maybe_unused]] const bool g_counting = (LinkStats::instance(), true);
} // namespace

LinkStats::ClockFn LinkStats::setClock(ClockFn clock)
{
    std::swap(clock, m_clock);
    if (!m_clock)
        m_clock = &steadyUs;
    return clock;
}

void LinkStats::restart(bool byUser)
{
    m_byUser = byUser;
    m_startWallMs = QDateTime::currentMSecsSinceEpoch();
    m_startUs = m_clock();
    m_transactions = m_replies = 0;
    m_minUs = m_maxUs = 0;
    m_errorCounts.fill(0);
    for (QString &t : m_errorTexts)
        t.clear();
    m_fine.assign(FineBins, 0);
    m_chartReplies.assign(ChartFrom.size(), 0);
    m_chartErrors.assign(ChartFrom.size(), 0);
    m_ring.fill({});
    m_ringNext = 0;
    m_rates.fill({});
}

int LinkStats::fineIndex(quint32 us)
{
    if (us < ExactBins)
        return static_cast<int>(us);
    const int shift = std::bit_width(us) - 11;
    return ExactBins + (shift - 1) * 1024 + static_cast<int>((us >> shift) - 1024);
}

quint32 LinkStats::fineValue(int index)
{
    if (index < ExactBins)
        return static_cast<quint32>(index);
    const int shift = (index - ExactBins) / 1024 + 1;
    return static_cast<quint32>((index - ExactBins) % 1024 + 1024) << shift;
}

int LinkStats::chartIndex(quint32 us)
{
    const auto it = std::upper_bound(ChartFrom.begin(), ChartFrom.end(), us);
    return static_cast<int>(it - ChartFrom.begin()) - 1;
}

int LinkStats::errorChartIndex(quint32 us)
{
    // A timeout ends a little after the reply timeout it waited for (the
    // timer's and the scheduler's slack); every reply timeout the tool sets
    // is a bin boundary.
    const int index = chartIndex(us);
    const quint32 from = ChartFrom[static_cast<std::size_t>(index)];
    return index > 0 && us - from <= from / 10 ? index - 1 : index;
}

void LinkStats::record(quint8 kind, const quint32 *request, quint8 error,
                       const std::array<quint8, 5> &received, qint64 startedUs)
{
    if (m_paused)
        return;
    const qint64 elapsed = std::max<qint64>(0, m_clock() - startedUs);
    const quint32 us = static_cast<quint32>(std::min<qint64>(elapsed, 0xFFFFFFFF));
    ++m_transactions;
    if (error == 0) {
        ++m_replies;
        ++m_fine[static_cast<std::size_t>(fineIndex(us))];
        ++m_chartReplies[static_cast<std::size_t>(chartIndex(us))];
        if (m_replies == 1 || us < m_minUs)
            m_minUs = us;
        m_maxUs = std::max(m_maxUs, us);
    } else {
        ++m_chartErrors[static_cast<std::size_t>(errorChartIndex(us))];
        // The text now, while the library that gave the code is bound.
        if (m_errorCounts[error]++ == 0)
            m_errorTexts[error] = ErrorText(kind, error);
    }
    const qint64 wallMs = m_startWallMs + (startedUs - m_startUs) / 1000;
    const qint64 second = wallMs / 1000;
    LinkRate &rate = m_rates[static_cast<std::size_t>(second % RateSeconds)];
    if (rate.second != second)
        rate = {second, 0, 0};
    ++(error == 0 ? rate.replies : rate.errors);
    LinkTransaction &t = m_ring[static_cast<std::size_t>(m_ringNext)];
    m_ringNext = (m_ringNext + 1) % RingSize;
    t.time = wallMs;
    t.durationUs = us;
    t.address = static_cast<quint8>(request[0]);
    t.command = static_cast<quint8>(request[1]);
    t.subCode = static_cast<quint8>(request[2]);
    for (std::size_t i = 0; i < 5; ++i)
        t.sent[i] = static_cast<quint8>(request[3 + i]);
    t.received = received;
    t.error = error;
}

QList<LinkErrorCount> LinkStats::errorCounts() const
{
    QList<LinkErrorCount> list;
    for (int code = 1; code < 256; ++code)
        if (m_errorCounts[static_cast<std::size_t>(code)])
            list.append({static_cast<quint8>(code), m_errorCounts[static_cast<std::size_t>(code)],
                         m_errorTexts[static_cast<std::size_t>(code)]});
    return list;
}

quint32 LinkStats::percentileUs(double p) const
{
    if (m_replies == 0)
        return 0;
    const auto rank =
        std::max<quint64>(1, static_cast<quint64>(std::ceil(p * static_cast<double>(m_replies))));
    quint64 seen = 0;
    for (int i = 0; i < FineBins; ++i) {
        seen += m_fine[static_cast<std::size_t>(i)];
        if (seen >= rank)
            return std::clamp(fineValue(i), m_minUs, m_maxUs);
    }
    return m_maxUs;
}

QList<LinkHistogramBin> LinkStats::histogram() const
{
    QList<LinkHistogramBin> bins;
    for (std::size_t i = 0; i < ChartFrom.size(); ++i)
        bins.append({ChartFrom[i], i + 1 < ChartFrom.size() ? ChartFrom[i + 1] : 0, m_chartReplies[i],
                     m_chartErrors[i]});
    return bins;
}

QList<LinkRate> LinkStats::rates(qint64 nowMs) const
{
    QList<LinkRate> list;
    const qint64 last = nowMs / 1000;
    for (qint64 second = std::max(last - RateSeconds + 1, m_startWallMs / 1000); second <= last; ++second) {
        const LinkRate &r = m_rates[static_cast<std::size_t>(second % RateSeconds)];
        list.append(r.second == second ? r : LinkRate{second, 0, 0});
    }
    return list;
}

QList<LinkTransaction> LinkStats::log() const
{
    QList<LinkTransaction> list;
    const quint64 count = std::min<quint64>(m_transactions, RingSize);
    list.reserve(static_cast<qsizetype>(count));
    const int first = count < RingSize ? 0 : m_ringNext;
    for (quint64 i = 0; i < count; ++i)
        list.append(m_ring[static_cast<std::size_t>((first + static_cast<int>(i)) % RingSize)]);
    return list;
}
