#include "gateway/MqttCommand.h"

#include <QList>

#include <algorithm>
#include <cctype>

std::optional<DoutTopic> ParseDoutTopic(const QByteArray &base, const QByteArray &topic)
{
    if (topic.size() <= base.size() || !topic.startsWith(base) || topic.at(base.size()) != '/')
        return std::nullopt;
    const QList<QByteArray> parts = topic.mid(base.size() + 1).split('/');
    if ((parts.size() != 3 && parts.size() != 4) || parts.at(1) != "dout" || parts.last() != "set")
        return std::nullopt;
    const auto small = [](const QByteArray &text, int hi) -> std::optional<int> {
        // Plain decimal digits only: "+1", " 1" or "01x" name no module.
        if (text.isEmpty() || text.size() > 3)
            return std::nullopt;
        int v = 0;
        for (const char c : text) {
            if (c < '0' || c > '9')
                return std::nullopt;
            v = v * 10 + (c - '0');
        }
        return v <= hi ? std::optional<int>(v) : std::nullopt;
    };
    const auto address = small(parts.at(0), 255);
    if (!address)
        return std::nullopt;
    DoutTopic t{*address, -1};
    if (parts.size() == 4) {
        const auto output = small(parts.at(2), 31);
        if (!output)
            return std::nullopt;
        t.output = *output;
    }
    return t;
}

std::optional<int> SetTopicAddress(const QByteArray &base, const QByteArray &topic)
{
    if (topic.size() <= base.size() || !topic.startsWith(base) || topic.at(base.size()) != '/')
        return std::nullopt;
    const QList<QByteArray> parts = topic.mid(base.size() + 1).split('/');
    if ((parts.size() != 3 && parts.size() != 4) || parts.at(1) != "dout" || parts.last() != "set")
        return std::nullopt;
    const QByteArray &a = parts.at(0);
    if (a.isEmpty() || a.size() > 3 ||
        !std::all_of(a.begin(), a.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const int address = a.toInt();
    return address <= 255 ? std::optional<int>(address) : std::nullopt;
}

QString BadSetTopic(const QByteArray &topic, const QByteArray &allTopic)
{
    return QStringLiteral(
               "téma %1 nenese žádný výstup: výstupy jsou 0 až 31 (…/dout/N/set), všechny najednou "
               "%2")
        .arg(QString::fromUtf8(topic), QString::fromUtf8(allTopic));
}

DoutCommand ParseDoutCommand(int output, const QByteArray &payload)
{
    DoutCommand c;
    const QByteArray text = payload.trimmed();
    if (output >= 0) {
        const QByteArray up = text.toUpper();
        if (up == "ON" || up == "1")
            c.values = 1;
        else if (up != "OFF" && up != "0") {
            c.error = QStringLiteral("očekáváno ON, OFF, 1 nebo 0");
            return c;
        }
        c.ok = true;
        c.first = output;
        c.count = 1;
        return c;
    }
    const bool hex = text.startsWith("0x") || text.startsWith("0X");
    const QByteArray digits = hex ? text.mid(2) : text;
    bool good = !digits.isEmpty() && digits.size() <= (hex ? 8 : 10);
    for (const char ch : digits)
        good &= hex ? std::isxdigit(static_cast<unsigned char>(ch)) != 0 : (ch >= '0' && ch <= '9');
    const qulonglong v = good ? digits.toULongLong(&good, hex ? 16 : 10) : 0;
    if (!good || v > 0xFFFFFFFFull) {
        c.error = QStringLiteral("očekáváno číslo 0 až 4294967295 (nebo 0x0 až 0xFFFFFFFF)");
        return c;
    }
    c.ok = true;
    c.first = 0;
    c.count = 32;
    c.values = static_cast<quint32>(v);
    return c;
}

CommandFate FateOfCommand(bool retained, const QByteArray &payload)
{
    if (payload.isEmpty())
        return CommandFate::Ignore;
    return retained ? CommandFate::RefuseRetained : CommandFate::Carry;
}

QString RetainedRefusal(const QByteArray &topic)
{
    return QStringLiteral("příkaz uložený na brokeru (retained) se neprovádí a brána ho smazala: "
                          "posílejte příkazy bez příznaku retain (mosquitto_pub bez -r) na %1")
        .arg(QString::fromUtf8(topic));
}

QString OutputsUnknownRefusal(const QByteArray &allTopic)
{
    return QStringLiteral("stav výstupů není znám (po startu brány nebo restartu modulu): publikujte všech "
                          "32 výstupů na %1")
        .arg(QString::fromUtf8(allTopic));
}
