#ifndef RQ_TREND_HISTORIE_H
#define RQ_TREND_HISTORIE_H

#include <QList>
#include <QString>

#include <array>
#include <deque>
#include <vector>

// One cycle of the values over time: the analog monitor's thirteen values
// and the 32 digital inputs, each part valid only when its transactions
// succeeded.
struct TrendSample
{
    static constexpr int ValueCount = 13; // inputs 0..11, then the internal temperature

    qint64 time = 0; // ms since 1970-01-01 UTC
    bool analogValid = false;
    quint32 refusedValues = 0; // bit i: value i refused by the module, its cell left empty
    std::array<double, ValueCount> values{};
    std::array<quint8, ValueCount> decimals{};
    bool dinValid = false;
    quint32 din = 0; // DINn is bit n
    QString error;   // text of the failed transaction, empty when none failed
    // The units of the thirteen values as the monitor shows them (the
    // temperature's empty), once the module's ranges have been read.
    bool unitsKnown = false;
    std::array<QString, ValueCount> units{};
};

// A stretch of failed cycles with one error text.
struct TrendFailure
{
    qint64 first = 0; // time of its first failed cycle
    qint64 last = 0;  // of its last
    quint32 cycles = 0;
    QString error;
};

// One digital input that changed between two successful reads.
struct TrendChange
{
    qint64 time = 0;
    int input = 0; // 0..31
    bool state = false;
};

struct AnalogReading;

// The sample of one cycle: the reading's values when it is complete (with
// their units), the digital inputs when their read succeeded (dinError 0),
// and the text of the first failure. *firstError (when given) gets that
// failure's code, 0 when none failed.
TrendSample MakeTrendSample(qint64 time, const AnalogReading &reading, quint8 dinError, quint32 din,
                            quint8 adapterKind, quint8 *firstError = nullptr);

// A stretch of samples reduced to what a chart and its statistics need:
// each channel's minimum, maximum and sum, and for the digital inputs which
// bits were ever 1 and which were always 1. A failed cycle counts as a
// sample without values, so a bucket knows that it holds a gap.
struct TrendBucket
{
    static constexpr int ValueCount = TrendSample::ValueCount;

    qint64 start = 0;        // start of the bucket's time slot
    qint64 first = 0;        // time of its first sample
    qint64 last = 0;         // time of its last sample
    quint32 samples = 0;     // cycles in it
    quint32 analogCount = 0; // of which with the analog values
    quint32 dinCount = 0;    // of which with the digital inputs
    std::array<float, ValueCount> min{};
    std::array<float, ValueCount> max{};
    std::array<double, ValueCount> sum{};
    quint32 dinAny = 0;   // bits that were 1 in some sample
    quint32 dinAll = ~0u; // bits that were 1 in every sample
    quint32 epoch = 0;    // the units' epoch of its samples (TrendHistory)

    bool analogGap() const { return analogCount < samples; }
    bool dinGap() const { return dinCount < samples; }
    double mean(int channel) const
    {
        return analogCount ? sum[static_cast<std::size_t>(channel)] / analogCount : 0.0;
    }
    void add(const TrendSample &s);
    void merge(const TrendBucket &b);
};

// Values over time in a fixed amount of memory, however long it runs: three
// rings of buckets, each finer than the next, all filled at every sample.
//   - 100 ms buckets for a little more than the last minute,
//   - 1 s buckets for a little more than the last hour,
//   - buckets of 10 s and up for the whole run: when that ring is full, pairs
//     of neighbours are merged and the bucket width doubles.
// Reading a stretch takes the finest ring that still reaches back to its
// start, so the minimum and maximum of every stored sample survive every
// reduction.
//
// The units come with the samples: each change of them starts a new epoch,
// and no bucket holds samples of two epochs (only a run with more unit
// changes than the coarsest ring has buckets merges them at last), so a
// line's piece and its statistics stay in one unit.
class TrendHistory
{
public:
    struct Level
    {
        qint64 width = 0; // ms per bucket
        int capacity = 0;
        bool doubling = false; // the ring for the whole run
    };
    // The rings, finest first.
    static QList<Level> standardLevels();

    explicit TrendHistory(const QList<Level> &levels = standardLevels());

    // Samples must come in time order; an older one than the last is taken
    // as the time of the last.
    void append(const TrendSample &s);
    void clear();

    bool isEmpty() const { return m_count == 0; }
    qint64 firstTime() const { return m_first; }
    qint64 lastTime() const { return m_last; }
    quint64 sampleCount() const { return m_count; }

    // [from, to] in at most maxBuckets + 1 buckets of equal width (a whole
    // number of the ring's), each holding every sample of its slot; slots are
    // aligned to multiples of the width, oldest first, and slots without any
    // sample are left out.
    // width, when given, receives the slot width.
    QList<TrendBucket> view(qint64 from, qint64 to, int maxBuckets, qint64 *width = nullptr) const;
    // Everything in [from, to] of the epochs since sinceEpoch in one
    // bucket: minimum, maximum and mean of each channel over the stretch.
    TrendBucket summary(qint64 from, qint64 to, quint32 sinceEpoch = 0) const;

    // The units' epoch of the newest sample, and of the newest sample at or
    // before time t.
    quint32 epoch() const { return m_epoch; }
    quint32 epochAt(qint64 t) const;
    // The units of an epoch; null when no sample of it brought units or it
    // is older than the UnitsCapacity newest epochs.
    const std::array<QString, TrendSample::ValueCount> *unitsOf(quint32 epoch) const;
    // The oldest epoch from which on up to epoch the channel kept the unit
    // it has in epoch: where its statistics start.
    quint32 sameUnitSince(int channel, quint32 epoch) const;
    static constexpr int UnitsCapacity = 1024;

    // Stretches of failed cycles that reach into [from, to], oldest first.
    // The newest FailureCapacity stretches are kept.
    QList<TrendFailure> failures(qint64 from, qint64 to) const;
    // Changes of the digital inputs in [from, to], newest first, at most max.
    // The newest ChangeCapacity changes are kept.
    QList<TrendChange> changes(qint64 from, qint64 to, int max) const;
    // Usual time between two cycles (ms), 0 before the second sample. A
    // stall (no cycle for a while) does not raise it, so a chart can tell a
    // stall from a slow bus and break its lines there.
    double typicalInterval() const { return m_interval; }
    // The newest successful read of the digital inputs.
    bool dinKnown() const { return m_dinKnown; }
    quint32 lastDin() const { return m_din; }
    // The longest time between two drawn buckets of the given width that
    // is still drawn as one line.
    qint64 joinLimit(qint64 bucketWidth) const;

    static constexpr int FailureCapacity = 4096;
    static constexpr int ChangeCapacity = 20000;

    // Bucket width of ring k now (the last one grows with the run).
    qint64 levelWidth(int k) const { return m_rings.at(static_cast<std::size_t>(k)).width; }
    // Memory of the rings; set aside in full when the history is made.
    std::size_t reservedBytes() const;

private:
    struct Ring
    {
        qint64 width = 0;
        qint64 baseWidth = 0; // width when empty
        bool doubling = false;
        std::vector<TrendBucket> buckets; // capacity slots, used as a ring
        int head = 0;                     // index of the oldest bucket
        int size = 0;
        const TrendBucket &at(int k) const
        {
            return buckets[static_cast<std::size_t>((head + k) % capacity())];
        }
        TrendBucket &at(int k) { return buckets[static_cast<std::size_t>((head + k) % capacity())]; }
        int capacity() const { return static_cast<int>(buckets.size()); }
        void add(const TrendSample &s, quint32 epoch);
        void halve();
        void mergeSlots(bool byEpoch);
    };
    struct Units
    {
        quint32 epoch = 0;
        qint64 from = 0; // time of its first sample with units
        std::array<QString, TrendSample::ValueCount> units;
    };
    // The finest ring whose oldest bucket reaches back to from, else the coarsest.
    const Ring &ringFor(qint64 from) const;

    std::vector<Ring> m_rings;
    std::deque<TrendFailure> m_failures;
    bool m_failing = false; // the last sample failed: its stretch may grow
    std::deque<TrendChange> m_changes;
    std::deque<Units> m_units; // consecutive epochs, oldest first
    quint32 m_epoch = 0;
    bool m_dinKnown = false;
    quint32 m_din = 0; // the last successful read
    double m_interval = 0;
    quint64 m_count = 0;
    qint64 m_first = 0;
    qint64 m_last = 0;
};

#endif
