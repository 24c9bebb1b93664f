#include "trend/Historie.h"

#include "comm/Kxxx638.h"
#include "live/AnalogCycle.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {
// Start of the slot of width w that holds time t (also for times before 1970).
qint64 slotOf(qint64 t, qint64 w)
{
    const qint64 q = t / w;
    return (t % w < 0 ? q - 1 : q) * w;
}
} // namespace

void TrendBucket::add(const TrendSample &s)
{
    if (samples == 0)
        first = s.time;
    last = s.time;
    ++samples;
    if (s.analogValid) {
        for (std::size_t k = 0; k < ValueCount; ++k) {
            const auto v = static_cast<float>(s.values[k]);
            if (analogCount == 0 || v < min[k])
                min[k] = v;
            if (analogCount == 0 || v > max[k])
                max[k] = v;
            sum[k] += s.values[k];
        }
        ++analogCount;
    }
    if (s.dinValid) {
        dinAny |= s.din;
        dinAll &= s.din;
        ++dinCount;
    }
}

void TrendBucket::merge(const TrendBucket &b)
{
    if (b.samples == 0)
        return;
    if (samples == 0) {
        const qint64 keep = start;
        *this = b;
        start = keep;
        return;
    }
    first = std::min(first, b.first);
    last = std::max(last, b.last);
    samples += b.samples;
    if (b.analogCount) {
        for (std::size_t k = 0; k < ValueCount; ++k) {
            min[k] = analogCount ? std::min(min[k], b.min[k]) : b.min[k];
            max[k] = analogCount ? std::max(max[k], b.max[k]) : b.max[k];
            sum[k] += b.sum[k];
        }
        analogCount += b.analogCount;
    }
    if (b.dinCount) {
        dinAny |= b.dinAny;
        dinAll &= b.dinAll;
        dinCount += b.dinCount;
    }
}

QList<TrendHistory::Level> TrendHistory::standardLevels()
{
    // A little more than each window the chart offers, so a window's start
    // is still in the ring when it is drawn.
    return {{100, 640, false}, {1000, 3700, false}, {10000, 4096, true}};
}

TrendHistory::TrendHistory(const QList<Level> &levels)
{
    for (const Level &l : levels) {
        Ring r;
        r.width = r.baseWidth = std::max<qint64>(1, l.width);
        r.doubling = l.doubling;
        // Set aside in full now: a long run never asks for more.
        r.buckets.resize(static_cast<std::size_t>(std::max(2, l.capacity)));
        m_rings.push_back(std::move(r));
    }
}

void TrendHistory::Ring::add(const TrendSample &s, quint32 epoch)
{
    qint64 slot = slotOf(s.time, width);
    if (size > 0 && at(size - 1).start == slot && at(size - 1).epoch == epoch) {
        at(size - 1).add(s);
        return;
    }
    if (size == capacity()) {
        if (doubling) {
            while (size == capacity())
                halve();
            slot = slotOf(s.time, width);
            if (at(size - 1).start == slot && at(size - 1).epoch == epoch) {
                at(size - 1).add(s);
                return;
            }
        } else {
            head = (head + 1) % capacity();
            --size;
        }
    }
    TrendBucket &b = at(size);
    b = TrendBucket{};
    b.start = slot;
    b.epoch = epoch;
    b.add(s);
    ++size;
}

void TrendHistory::Ring::halve()
{
    width *= 2;
    mergeSlots(true);
    // Every bucket of an epoch of its own: units are mixed rather than the
    // width doubled for ever.
    if (size == capacity())
        mergeSlots(false);
}

void TrendHistory::Ring::mergeSlots(bool byEpoch)
{
    std::vector<TrendBucket> merged;
    merged.reserve(static_cast<std::size_t>(size));
    for (int k = 0; k < size; ++k) {
        const TrendBucket &b = at(k);
        const qint64 slot = slotOf(b.start, width);
        if (merged.empty() || merged.back().start != slot || (byEpoch && merged.back().epoch != b.epoch)) {
            merged.push_back(b);
            merged.back().start = slot;
        } else {
            merged.back().merge(b);
            merged.back().epoch = b.epoch;
        }
    }
    std::copy(merged.begin(), merged.end(), buckets.begin());
    head = 0;
    size = static_cast<int>(merged.size());
}

void TrendHistory::append(const TrendSample &sample)
{
    TrendSample s = sample;
    if (m_count > 0 && s.time < m_last)
        s.time = m_last;
    if (m_count == 0) {
        m_first = s.time;
    } else {
        // A stall counts as at most twice the usual interval, so the usual
        // interval stays that of the bus.
        const double d = double(s.time - m_last);
        m_interval = m_interval <= 0 ? d : m_interval + (std::min(d, 2 * m_interval) - m_interval) / 8;
    }
    m_last = s.time;
    ++m_count;
    if (s.unitsKnown) {
        if (m_units.empty() || m_units.back().epoch != m_epoch) {
            m_units.push_back({m_epoch, s.time, s.units}); // the first units of this epoch
        } else if (m_units.back().units != s.units) {
            m_units.push_back({++m_epoch, s.time, s.units});
            if (m_units.size() > std::size_t(UnitsCapacity))
                m_units.pop_front();
        }
    }
    for (Ring &r : m_rings)
        r.add(s, m_epoch);

    const bool failed = !s.error.isEmpty() || !s.analogValid || !s.dinValid;
    if (failed) {
        if (m_failing && m_failures.back().error == s.error) {
            m_failures.back().last = s.time;
            ++m_failures.back().cycles;
        } else {
            if (m_failures.size() >= std::size_t(FailureCapacity))
                m_failures.pop_front();
            m_failures.push_back({s.time, s.time, 1, s.error});
        }
    }
    m_failing = failed;

    if (s.dinValid) {
        if (m_dinKnown && s.din != m_din) {
            const quint32 changed = s.din ^ m_din;
            for (int n = 0; n < 32; ++n) {
                if (!(changed >> n & 1))
                    continue;
                if (m_changes.size() >= std::size_t(ChangeCapacity))
                    m_changes.pop_front();
                m_changes.push_back({s.time, n, bool(s.din >> n & 1)});
            }
        }
        m_dinKnown = true;
        m_din = s.din;
    }
}

QList<TrendFailure> TrendHistory::failures(qint64 from, qint64 to) const
{
    QList<TrendFailure> out;
    // Newest last: search back from the end, the view is usually recent.
    auto it = m_failures.end();
    while (it != m_failures.begin() && std::prev(it)->last >= from)
        --it;
    for (; it != m_failures.end() && it->first <= to; ++it)
        out.append(*it);
    return out;
}

QList<TrendChange> TrendHistory::changes(qint64 from, qint64 to, int max) const
{
    QList<TrendChange> out;
    for (auto it = m_changes.rbegin(); it != m_changes.rend() && it->time >= from && out.size() < max; ++it)
        if (it->time <= to)
            out.append(*it);
    return out;
}

qint64 TrendHistory::joinLimit(qint64 bucketWidth) const
{
    // Four usual cycles, and never less than two buckets and a second: a
    // slow or jittery bus still draws one line, a stall a gap.
    return std::max({qint64(std::ceil(4 * m_interval)), 2 * bucketWidth, qint64(1000)});
}

void TrendHistory::clear()
{
    for (Ring &r : m_rings) {
        r.head = 0;
        r.size = 0;
        r.width = r.baseWidth;
    }
    m_count = 0;
    m_first = m_last = 0;
    m_failures.clear();
    m_failing = false;
    m_changes.clear();
    m_units.clear();
    m_epoch = 0;
    m_dinKnown = false;
    m_interval = 0;
}

const TrendHistory::Ring &TrendHistory::ringFor(qint64 from) const
{
    const qint64 need = std::max(from, m_first);
    for (const Ring &r : m_rings)
        if (r.size > 0 && r.at(0).start <= need)
            return r;
    return m_rings.back();
}

QList<TrendBucket> TrendHistory::view(qint64 from, qint64 to, int maxBuckets, qint64 *width) const
{
    QList<TrendBucket> out;
    if (isEmpty() || to < from || m_rings.empty())
        return out;
    const Ring &r = ringFor(from);
    const qint64 span = to - from + 1;
    const qint64 n = std::max(1, maxBuckets);
    // A whole number of the ring's buckets per slot, so no bucket is split.
    const qint64 perSlot = std::max<qint64>(1, (span + n * r.width - 1) / (n * r.width));
    const qint64 w = perSlot * r.width;
    if (width)
        *width = w;
    for (int k = 0; k < r.size; ++k) {
        const TrendBucket &b = r.at(k);
        const qint64 slot = slotOf(b.start, w);
        // Whole slots, also the one the window starts in: every bucket shown
        // holds all its samples.
        if (slot + w <= from || b.first > to)
            continue;
        if (out.isEmpty() || out.last().start != slot || out.last().epoch != b.epoch) {
            out.append(b);
            out.last().start = slot;
        } else {
            out.last().merge(b);
        }
    }
    return out;
}

quint32 TrendHistory::epochAt(qint64 t) const
{
    for (auto it = m_units.rbegin(); it != m_units.rend(); ++it)
        if (it->from <= t)
            return it->epoch;
    return m_units.empty() ? m_epoch : m_units.front().epoch;
}

const std::array<QString, TrendSample::ValueCount> *TrendHistory::unitsOf(quint32 epoch) const
{
    if (m_units.empty() || epoch < m_units.front().epoch || epoch > m_units.back().epoch)
        return nullptr;
    return &m_units[epoch - m_units.front().epoch].units;
}

quint32 TrendHistory::sameUnitSince(int channel, quint32 epoch) const
{
    const auto *units = unitsOf(epoch);
    if (!units)
        return epoch;
    const auto k = static_cast<std::size_t>(channel);
    quint32 since = epoch;
    while (since > m_units.front().epoch && (*unitsOf(since - 1))[k] == (*units)[k])
        --since;
    return since;
}

TrendBucket TrendHistory::summary(qint64 from, qint64 to, quint32 sinceEpoch) const
{
    TrendBucket all;
    if (isEmpty() || to < from || m_rings.empty())
        return all;
    const Ring &r = ringFor(from);
    for (int k = 0; k < r.size; ++k) {
        const TrendBucket &b = r.at(k);
        if (b.last >= from && b.first <= to && b.epoch >= sinceEpoch)
            all.merge(b);
    }
    all.start = from;
    return all;
}

std::size_t TrendHistory::reservedBytes() const
{
    std::size_t bytes = 0;
    for (const Ring &r : m_rings)
        bytes += r.buckets.size() * sizeof(TrendBucket);
    return bytes;
}

TrendSample MakeTrendSample(qint64 time, const AnalogReading &reading, quint8 dinError, quint32 din,
                            quint8 adapterKind, quint8 *firstError)
{
    TrendSample s;
    s.time = time;
    quint8 error = reading.complete() ? 0 : reading.error;
    if (reading.complete()) {
        s.analogValid = true;
        for (std::size_t k = 0; k < std::size_t(TrendSample::ValueCount); ++k) {
            s.values[k] = reading.values[k].value;
            s.decimals[k] = reading.values[k].decimals;
            s.units[k] = reading.values[k].unit;
        }
        s.unitsKnown = true;
        s.refusedValues = reading.refusedValues;
    }
    s.dinValid = dinError == 0;
    if (s.dinValid)
        s.din = din;
    if (error == 0)
        error = dinError;
    if (error != 0)
        s.error = ErrorText(adapterKind, error).trimmed();
    if (firstError)
        *firstError = error;
    return s;
}
