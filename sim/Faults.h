// Fault rules of the simulator: which requests a fault hits and what it does
// to the reply. Syntax (docs/rqsim.md):
//   [module=N] [cmd=N] [sub=N] [mem=N] ACTION[=VALUE] [p=PROBABILITY] [count=N]
#ifndef RQ_SIM_FAULTS_H
#define RQ_SIM_FAULTS_H

#include "RqFrame.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>

#include <optional>

// A number of the control channel and the fault rules: decimal, or
// hexadecimal behind 0x; nothing else (no octal, no trailing characters).
bool parseNumber(const QString &text, qint64 &value);

struct FaultRule
{
    // A reply later than a minute is a lost reply to every client; the cap
    // also keeps sums of delays far from overflowing.
    static constexpr int kMaxDelayMs = 60000;

    enum class Action {
        Error,     // answer with module error byte VALUE, do nothing
        Readback,  // command 102 answers D3 = VALUE instead of the stored byte
        AnyD3,     // any command's reply carries D3 = VALUE (a well-formed lie)
        Drop,      // no reply
        Delay,     // reply VALUE ms later
        Duplicate, // reply twice: back to back, or the copy VALUE ms later (dup=MS)
        BadCrc,    // damage the CRC
        Noise,     // bytes before the frame
        Garbage,   // bytes after the frame
        Short,     // first half of the frame only
        Split,     // frame sent one byte at a time (serial) or in two datagrams (UDP)
        WrongAddress,
        WrongCommand,
        WrongSequence, // UDP: a sequence number that is not the request's
        OtherPort,     // UDP: reply from another source port
    };

    std::optional<int> module, command, subcode, memAddress;
    Action action = Action::Drop;
    int value = 0;
    double probability = 1.0;
    int remaining = -1; // -1: no limit
    qint64 hits = 0;

    // Parses one rule; returns an error text, empty on success.
    static QString parse(const QString &text, FaultRule &rule);
    QString describe() const;
    bool matches(const rqframe::Request &request) const;
};

// What the matching rules decided for one request.
struct FaultEffects
{
    std::optional<int> error;
    std::optional<int> readback;
    bool drop = false;
    int delayMs = 0;
    bool duplicate = false;
    int duplicateAfterMs = 0; // 0: the copy follows at once, in the same burst
    bool badCrc = false;
    bool noise = false;
    bool garbage = false;
    bool truncate = false;
    bool split = false;
    bool wrongAddress = false;
    bool wrongCommand = false;
    bool wrongSequence = false;
    bool otherPort = false;
    int fired = 0;
};

class FaultSet
{
public:
    // Rules are rolled on every request: a bound keeps a runaway script from
    // slowing the bus to a halt or exhausting memory.
    static constexpr int kMaxRules = 1000;

    QString add(const QString &text); // error text, empty on success
    void clear() { m_rules.clear(); }
    const QList<FaultRule> &rules() const { return m_rules; }
    void setSeed(quint32 seed) { m_random.seed(seed); }
    // Rolls every matching rule once and collects what fired.
    FaultEffects apply(const rqframe::Request &request);

private:
    QList<FaultRule> m_rules;
    QRandomGenerator m_random{20261207u};
};

#endif
