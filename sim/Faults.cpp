#include "Faults.h"

#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

struct ActionName
{
    const char16_t *name;
    FaultRule::Action action;
    bool needsValue;
};

constexpr ActionName kActions[] = {
    {u"error", FaultRule::Action::Error, true},
    {u"readback", FaultRule::Action::Readback, true},
    {u"d3", FaultRule::Action::AnyD3, true},
    {u"drop", FaultRule::Action::Drop, false},
    {u"delay", FaultRule::Action::Delay, true},
    {u"dup", FaultRule::Action::Duplicate, false},
    {u"crc", FaultRule::Action::BadCrc, false},
    {u"noise", FaultRule::Action::Noise, false},
    {u"garbage", FaultRule::Action::Garbage, false},
    {u"short", FaultRule::Action::Short, false},
    {u"split", FaultRule::Action::Split, false},
    {u"wrongaddr", FaultRule::Action::WrongAddress, false},
    {u"wrongcmd", FaultRule::Action::WrongCommand, false},
    {u"wrongseq", FaultRule::Action::WrongSequence, false},
    {u"otherport", FaultRule::Action::OtherPort, false},
};

bool toInt(const QString &text, int &value)
{
    qint64 v = 0;
    if (!parseNumber(text, v) || v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        return false;
    value = static_cast<int>(v);
    return true;
}

} // namespace

bool parseNumber(const QString &text, qint64 &value)
{
    const bool hex = text.startsWith(u"0x", Qt::CaseInsensitive);
    const QStringView digits = QStringView(text).mid(hex ? 2 : 0);
    const QStringView body = digits.startsWith(u'-') ? digits.mid(1) : digits;
    // Qt would also take blanks and a leading '+'; only digits count here.
    if (body.isEmpty() || (hex && body.size() != digits.size()))
        return false;
    for (const QChar c : body)
        if (!(c.isDigit() || (hex && QStringLiteral("abcdefABCDEF").contains(c))) || c.unicode() > 0x7F)
            return false;
    bool ok = false;
    value = digits.toLongLong(&ok, hex ? 16 : 10);
    return ok;
}

QString FaultRule::parse(const QString &text, FaultRule &rule)
{
    rule = FaultRule{};
    bool haveAction = false;
    const QStringList tokens = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &token : tokens) {
        const qsizetype eq = token.indexOf(QLatin1Char('='));
        const QString key = (eq < 0 ? token : token.left(eq)).toLower();
        const QString text = eq < 0 ? QString() : token.mid(eq + 1);
        int number = 0;
        if (key == u"p") {
            bool ok = false;
            rule.probability = text.toDouble(&ok);
            if (!ok || rule.probability < 0 || rule.probability > 1)
                return QStringLiteral("p must be a probability 0..1");
            continue;
        }
        if (key == u"module" || key == u"cmd" || key == u"sub" || key == u"mem" || key == u"count") {
            if (!toInt(text, number) || number < 0)
                return key + QStringLiteral(" needs a number");
            if (key == u"module")
                rule.module = number;
            else if (key == u"cmd")
                rule.command = number;
            else if (key == u"sub")
                rule.subcode = number;
            else if (key == u"mem")
                rule.memAddress = number;
            else
                rule.remaining = number;
            continue;
        }
        bool known = false;
        for (const ActionName &a : kActions) {
            if (key != QStringView(a.name))
                continue;
            known = true;
            if (haveAction)
                return QStringLiteral("one action per rule");
            haveAction = true;
            rule.action = a.action;
            if ((a.needsValue || !text.isEmpty()) && !toInt(text, rule.value))
                return key + QStringLiteral(" needs a value: ") + key + QStringLiteral("=N");
            if (!a.needsValue && !text.isEmpty() && a.action != Action::Duplicate)
                return key + QStringLiteral(" takes no value");
            if ((a.action == Action::Delay || a.action == Action::Duplicate) &&
                (rule.value < 0 || rule.value > kMaxDelayMs))
                return key + QStringLiteral(" must be 0..%1 ms").arg(kMaxDelayMs);
        }
        if (!known)
            return QStringLiteral("unknown word: ") + token;
    }
    if (!haveAction)
        return QStringLiteral(
            "no action (error=N, readback=N, d3=N, drop, delay=MS, dup[=MS], crc, noise, garbage, short, "
            "split, wrongaddr, wrongcmd, wrongseq, otherport)");
    return {};
}

QString FaultRule::describe() const
{
    QStringList parts;
    if (module)
        parts << QStringLiteral("module=%1").arg(*module);
    if (command)
        parts << QStringLiteral("cmd=%1").arg(*command);
    if (subcode)
        parts << QStringLiteral("sub=%1").arg(*subcode);
    if (memAddress)
        parts << QStringLiteral("mem=%1").arg(*memAddress);
    for (const ActionName &a : kActions)
        if (a.action == action)
            parts << (a.needsValue || (action == Action::Duplicate && value > 0)
                          ? QStringView(a.name).toString() + QStringLiteral("=%1").arg(value)
                          : QStringView(a.name).toString());
    if (probability < 1)
        parts << QStringLiteral("p=%1").arg(probability);
    if (remaining >= 0)
        parts << QStringLiteral("count=%1").arg(remaining);
    parts << QStringLiteral("hits=%1").arg(hits);
    return parts.join(QLatin1Char(' '));
}

bool FaultRule::matches(const rqframe::Request &request) const
{
    if (module && *module != request.address)
        return false;
    if (command && *command != request.command)
        return false;
    if (subcode && *subcode != request.subcode)
        return false;
    if (memAddress) {
        // Memory address in the whole 512-byte memory or within page 0.
        const bool memoryCommand = request.command == 102 || request.command == 103;
        if (!memoryCommand || *memAddress != request.subcode * 256 + request.d[1])
            return false;
    }
    if (action == Action::Readback && request.command != 102)
        return false;
    return remaining != 0;
}

QString FaultSet::add(const QString &text)
{
    if (m_rules.size() >= kMaxRules)
        return QStringLiteral("too many fault rules (at most %1)").arg(kMaxRules);
    FaultRule rule;
    const QString error = FaultRule::parse(text, rule);
    if (error.isEmpty())
        m_rules.append(rule);
    return error;
}

FaultEffects FaultSet::apply(const rqframe::Request &request)
{
    FaultEffects e;
    // A bus without faults (the benchmarks) must not pay for the list: a
    // non-const walk over an empty QList allocates.
    if (m_rules.isEmpty())
        return e;
    for (FaultRule &rule : m_rules) {
        if (!rule.matches(request))
            continue;
        if (rule.probability < 1 && m_random.generateDouble() >= rule.probability)
            continue;
        if (rule.remaining > 0)
            --rule.remaining;
        ++rule.hits;
        ++e.fired;
        switch (rule.action) {
        case FaultRule::Action::Error:
            e.error = rule.value;
            break;
        case FaultRule::Action::Readback:
        case FaultRule::Action::AnyD3:
            e.readback = rule.value;
            break;
        case FaultRule::Action::Drop:
            e.drop = true;
            break;
        case FaultRule::Action::Delay:
            e.delayMs =
                std::min(e.delayMs + rule.value, FaultRule::kMaxDelayMs); // both at most the cap: no overflow
            break;
        case FaultRule::Action::Duplicate:
            e.duplicate = true;
            e.duplicateAfterMs = std::max(e.duplicateAfterMs, rule.value);
            break;
        case FaultRule::Action::BadCrc:
            e.badCrc = true;
            break;
        case FaultRule::Action::Noise:
            e.noise = true;
            break;
        case FaultRule::Action::Garbage:
            e.garbage = true;
            break;
        case FaultRule::Action::Short:
            e.truncate = true;
            break;
        case FaultRule::Action::Split:
            e.split = true;
            break;
        case FaultRule::Action::WrongAddress:
            e.wrongAddress = true;
            break;
        case FaultRule::Action::WrongCommand:
            e.wrongCommand = true;
            break;
        case FaultRule::Action::WrongSequence:
            e.wrongSequence = true;
            break;
        case FaultRule::Action::OtherPort:
            e.otherPort = true;
            break;
        }
    }
    return e;
}
