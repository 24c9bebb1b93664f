// Any bytes as an output command from the broker: the bytes up to the first
// NUL are the topic after the gateway's base topic, the rest is the payload
// (no NUL: the whole input is the payload of both command topics).
// Properties: a topic is taken exactly when it reads ADDRESS/dout/set or
// ADDRESS/dout/OUTPUT/set in plain digits within range, and names what its
// digits say; a payload is taken exactly when a plain reading of the rule
// takes it, and then names outputs inside the 32 coils with values that fit
// them (a write merged into the known coils changes no other coil); a refused
// one says why in Czech; a command's canonical payloads (decimal and 0x
// hexadecimal for all outputs, ON/OFF/1/0 for one) parse to the same command,
// blanks around them too.
#include "FuzzSupport.h"

#include "gateway/GatewayState.h"
#include "gateway/MqttCommand.h"

#include <QByteArray>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <optional>

namespace {

const QByteArray Base = QByteArrayLiteral("rq/hala1");

bool blank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

QByteArray trimmed(const QByteArray &b)
{
    qsizetype from = 0, to = b.size();
    while (from < to && blank(b.at(from)))
        ++from;
    while (to > from && blank(b.at(to - 1)))
        --to;
    return b.mid(from, to - from);
}

// 1..3 plain decimal digits up to hi.
std::optional<int> smallNumber(const QByteArray &t, int hi)
{
    if (t.isEmpty() || t.size() > 3)
        return std::nullopt;
    int v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v <= hi ? std::optional<int>(v) : std::nullopt;
}

// The topic rule read plainly: base, '/', then the parts.
std::optional<DoutTopic> expectedTopic(const QByteArray &topic)
{
    if (!topic.startsWith(QByteArray(Base + '/')))
        return std::nullopt;
    const QList<QByteArray> p = topic.mid(Base.size() + 1).split('/');
    const bool one = p.size() == 4;
    if ((p.size() != 3 && !one) || p.at(1) != "dout" || p.last() != "set")
        return std::nullopt;
    const std::optional<int> address = smallNumber(p.at(0), 255);
    const std::optional<int> output = one ? smallNumber(p.at(2), 31) : std::optional<int>(-1);
    if (!address || !output)
        return std::nullopt;
    return DoutTopic{*address, *output};
}

std::optional<quint32> expectedValues(int output, const QByteArray &payload)
{
    const QByteArray t = trimmed(payload);
    if (output >= 0) {
        if (t == "1" || t.compare("ON", Qt::CaseInsensitive) == 0)
            return 1;
        if (t == "0" || t.compare("OFF", Qt::CaseInsensitive) == 0)
            return 0;
        return std::nullopt;
    }
    const bool hex = t.size() > 2 && t.at(0) == '0' && (t.at(1) == 'x' || t.at(1) == 'X');
    const QByteArray digits = hex ? t.mid(2) : t;
    if (digits.isEmpty() || digits.size() > (hex ? 8 : 10))
        return std::nullopt;
    quint64 v = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0)
            return std::nullopt;
        v = v * (hex ? 16 : 10) + quint64(d);
    }
    return v <= 0xFFFFFFFFull ? std::optional<quint32>(quint32(v)) : std::nullopt;
}

// Plain text a user can read: printable ASCII and Czech letters, at least one
// of those so it is not English by accident.
bool czechReason(const QString &text)
{
    static const QString czech = QStringLiteral("áčďéěíňóřšťúůýžÁČĎÉĚÍŇÓŘŠŤÚŮÝŽ");
    bool accent = false;
    for (QChar c : text) {
        if (czech.contains(c))
            accent = true;
        else if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return accent;
}

bool same(const DoutCommand &a, const DoutCommand &b)
{
    return a.ok == b.ok && a.first == b.first && a.count == b.count && a.values == b.values;
}

void checkCommand(int output, const QByteArray &payload)
{
    const DoutCommand c = ParseDoutCommand(output, payload);
    const std::optional<quint32> expected = expectedValues(output, payload);
    FUZZ_CHECK(c.ok == expected.has_value());
    if (!c.ok) {
        FUZZ_CHECK(czechReason(c.error));
        return;
    }
    FUZZ_CHECK(c.error.isEmpty());
    FUZZ_CHECK(c.values == *expected);
    FUZZ_CHECK(c.first >= 0 && c.count >= 1 && c.first + c.count <= RegisterMap::Coils);
    if (output >= 0) {
        FUZZ_CHECK(c.first == output && c.count == 1 && c.values <= 1);
    } else {
        FUZZ_CHECK(c.first == 0 && c.count == RegisterMap::Coils);
    }
    // The write changes the named coils to the values and no other coil.
    const quint32 mask = c.count >= 32 ? 0xFFFFFFFFu : ((1u << c.count) - 1u) << c.first;
    for (const quint32 known : {0u, 0xFFFFFFFFu, 0xA5C3F00Fu}) {
        const quint32 merged = MergeCoils(known, c.first, c.count, c.values);
        FUZZ_CHECK((merged & ~mask) == (known & ~mask));
        FUZZ_CHECK((merged & mask) == ((c.values << c.first) & mask));
    }
    // Canonical forms give the same command.
    QList<QByteArray> forms;
    if (output >= 0)
        forms = {c.values ? QByteArray("ON") : QByteArray("OFF"),
                 c.values ? QByteArray("1") : QByteArray("0"),
                 c.values ? QByteArray("on") : QByteArray("off")};
    else
        forms = {QByteArray::number(c.values), QByteArray("0x" + QByteArray::number(c.values, 16).toUpper()),
                 QByteArray("0X" + QByteArray::number(c.values, 16))};
    for (const QByteArray &f : forms) {
        FUZZ_CHECK(same(ParseDoutCommand(output, f), c));
        FUZZ_CHECK(same(ParseDoutCommand(output, QByteArray(" \t" + f + "\r\n")), c));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype nul = input.indexOf('\0');
    const QByteArray payload = nul < 0 ? input : input.mid(nul + 1);
    if (nul >= 0) {
        // The suffix right after the base (no '/' added): another gateway's
        // base ("rq/hala10") or the base alone must name no command.
        const QByteArray topic = QByteArray(Base + input.left(nul));
        const std::optional<DoutTopic> t = ParseDoutTopic(Base, topic);
        const std::optional<DoutTopic> expected = expectedTopic(topic);
        FUZZ_CHECK(t.has_value() == expected.has_value());
        if (t) {
            FUZZ_CHECK(t->address == expected->address && t->output == expected->output);
            FUZZ_CHECK(t->address >= 0 && t->address <= 255 && t->output >= -1 &&
                       t->output < RegisterMap::Coils);
            // The canonical topic names the same outputs.
            QByteArray canonical = Base + '/' + QByteArray::number(t->address) + "/dout/";
            if (t->output >= 0)
                canonical += QByteArray::number(t->output) + '/';
            const std::optional<DoutTopic> back = ParseDoutTopic(Base, QByteArray(canonical + "set"));
            FUZZ_CHECK(back && back->address == t->address && back->output == t->output);
            checkCommand(t->output, payload);
            return 0;
        }
    }
    checkCommand(-1, payload);
    checkCommand(size ? data[0] % RegisterMap::Coils : 0, payload);
    return 0;
}
