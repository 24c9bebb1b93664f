#include "gateway/MqttTopics.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <algorithm>
#include <cmath>

QByteArray JsonString(const QString &text)
{
    QByteArray out = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
            out += QByteArray("\\u00") +
                   QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out + '"';
}

void JsonNumber(QByteArray &out, float v, int decimals)
{
    if (std::isnan(v) || std::isinf(v))
        out += "null";
    else
        out += QByteArray::number(static_cast<double>(v), 'f', std::clamp(decimals, 0, 6));
}

QByteArray HaSlug(const QString &name)
{
    QByteArray out;
    for (const QChar c : name.normalized(QString::NormalizationForm_KD)) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue; // the accent of a decomposed letter
        const QChar l = c.toLower();
        out += (l >= u'a' && l <= u'z') || (l >= u'0' && l <= u'9') ? static_cast<char>(l.unicode()) : '_';
    }
    return out;
}

namespace {
// Home Assistant's device class of a unit, where it has one.
const char *deviceClass(UnitCode u)
{
    switch (u) {
    case UnitCode::Volt:
        return "voltage";
    case UnitCode::Celsius:
    case UnitCode::Kelvin:
    case UnitCode::Fahrenheit:
        return "temperature";
    default:
        return nullptr; // ohm and raw counts have none
    }
}
} // namespace

QMap<QByteArray, QByteArray> DiscoveryConfigs(const ModuleSnapshot &m, const QByteArray &base,
                                              const QString &name, bool allowWrites)
{
    // One device a module, its entities reading the state topic; available
    // while both the gateway and the module are. The topics and unique ids
    // keep the name as the broker has it; the entity ids are a slug of it.
    QMap<QByteArray, QByteArray> out;
    const QByteArray address = QByteArray::number(m.address);
    const QByteArray id = "rq_" + name.toUtf8() + '_' + address;
    const QByteArray entity = "rq_" + HaSlug(name) + '_' + address;
    const QByteArray topic = base + '/' + address + '/';
    const QByteArray common =
        ",\"state_topic\":\"" + topic +
        "state\",\"availability_mode\":\"all\",\"availability\":[{\"topic\":\"" + base +
        "/status\"},{\"topic\":\"" + topic + "availability\"}],\"device\":{\"identifiers\":[\"" + id +
        "\"],\"name\":" + JsonString(m.name) + ",\"manufacturer\":\"RQ\",\"model\":" + JsonString(m.model) +
        ",\"sw_version\":" + JsonString(m.firmware) + "}";
    const auto config = [&](const char *component, const QByteArray &object, const QByteArray &body) {
        out.insert("homeassistant/" + QByteArray(component) + '/' + id + '_' + object + "/config",
                   "{\"unique_id\":\"" + id + '_' + object + "\",\"default_entity_id\":\"" + component + '.' +
                       entity + '_' + object + "\"," + body + common + '}');
    };
    const auto sensor = [&](const QByteArray &object, const QByteArray &title, quint16 unit,
                            const QByteArray &value) {
        const char *dc = deviceClass(static_cast<UnitCode>(unit));
        config("sensor", object,
               "\"name\":\"" + title + "\",\"unit_of_measurement\":\"" + UnitSymbol(unit) + '"' +
                   (dc ? ",\"device_class\":\"" + QByteArray(dc) + '"' : QByteArray()) +
                   ",\"state_class\":\"measurement\",\"value_template\":\"{{ value_json." + value + " }}\"");
    };
    for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
        const quint16 u = m.ainUnit[static_cast<std::size_t>(i)];
        if (!UnitSymbol(u))
            continue;
        const QByteArray n = QByteArray::number(i);
        sensor("ain" + n, "AIN" + n, u, "ain[" + n + ']');
    }
    if (static_cast<UnitCode>(m.temperatureUnit) == UnitCode::Celsius)
        sensor("temperature", "Teplota", m.temperatureUnit, "temperature");
    for (int i = 0; i < 32; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray bit = QByteArray::number(1u << i);
        config("binary_sensor", "din" + n,
               "\"name\":\"DIN" + n + "\",\"value_template\":\"{{ 'ON' if value_json.din | bitwise_and(" +
                   bit + ") else 'OFF' }}\"");
        if (allowWrites)
            config(
                "switch", "dout" + n,
                "\"name\":\"DOUT" + n + "\",\"command_topic\":\"" + topic + "dout/" + n +
                    "/set\",\"payload_on\":\"ON\",\"payload_off\":\"OFF\",\"state_on\":\"ON\",\"state_off\":\"OFF\","
                    "\"value_template\":\"{{ 'None' if value_json.dout is none else 'ON' if value_json.dout | "
                    "bitwise_and(" +
                    bit + ") else 'OFF' }}\"");
    }
    return out;
}

QMap<QByteArray, QByteArray> PlainValues(const ModuleSnapshot &m)
{
    QMap<QByteArray, QByteArray> out;
    for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
        const auto k = static_cast<std::size_t>(i);
        if (!UnitSymbol(m.ainUnit[k]) || std::isnan(m.ain[k]))
            continue;
        QByteArray v;
        JsonNumber(v, m.ain[k], m.ainDecimals[k]);
        out.insert("ain/" + QByteArray::number(i), v);
    }
    if (static_cast<UnitCode>(m.temperatureUnit) == UnitCode::Celsius && !std::isnan(m.temperature)) {
        QByteArray v;
        JsonNumber(v, m.temperature, m.temperatureDecimals);
        out.insert("temperature", v);
    }
    for (int i = 0; i < 32; ++i) {
        out.insert("din/" + QByteArray::number(i), (m.din >> i) & 1 ? "1" : "0");
        if (m.doutKnown)
            out.insert("dout/" + QByteArray::number(i), (m.dout >> i) & 1 ? "1" : "0");
    }
    return out;
}

QByteArray GatewayInstance::json() const
{
    return QJsonDocument(QJsonObject{{QStringLiteral("host"), host},
                                     {QStringLiteral("machine"), machine},
                                     {QStringLiteral("instance"), instance},
                                     {QStringLiteral("pid"), pid},
                                     {QStringLiteral("started"), started}})
        .toJson(QJsonDocument::Compact);
}

std::optional<GatewayInstance> GatewayInstance::fromJson(const QByteArray &payload)
{
    const QJsonObject o = QJsonDocument::fromJson(payload).object();
    GatewayInstance g;
    g.host = o.value(u"host").toString();
    g.machine = o.value(u"machine").toString();
    g.instance = o.value(u"instance").toString();
    g.pid = o.value(u"pid").toInteger();
    g.started = o.value(u"started").toString();
    if (g.machine.isEmpty() && g.host.isEmpty())
        return std::nullopt;
    return g;
}

std::optional<QString> NameTaken(const GatewayInstance &me, const QByteArray &instancePayload,
                                 const QByteArray &status, const QString &name)
{
    const std::optional<GatewayInstance> other = GatewayInstance::fromJson(instancePayload);
    // The same instance restarted takes its own topics over at once (before
    // the broker's last will would say offline); one that said offline, or
    // whose will did, is gone.
    if (!other || other->sameAs(me) || status != "online")
        return std::nullopt;
    return QStringLiteral("jméno %1 na brokeru už používá běžící brána na počítači %2 (instance %3, "
                          "spuštěna %4); tato brána se nespustí: dejte jí jiné jméno (name=)")
        .arg(name, other->host.isEmpty() ? other->machine : other->host, other->instance, other->started);
}

QMap<int, QSet<QByteArray>> ParseTopicList(const QByteArray &text)
{
    QMap<int, QSet<QByteArray>> out;
    for (const QByteArray &line : text.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        bool ok = false;
        const int address = space > 0 ? line.left(space).toInt(&ok) : -1;
        const QByteArray topic = line.mid(space + 1).trimmed();
        if (ok && address >= 0 && address <= 255 && !topic.isEmpty())
            out[address].insert(topic);
    }
    return out;
}

QByteArray TopicListText(const QMap<int, QSet<QByteArray>> &topics)
{
    QByteArray out;
    for (auto it = topics.begin(); it != topics.end(); ++it) {
        QList<QByteArray> sorted(it->begin(), it->end());
        std::sort(sorted.begin(), sorted.end());
        for (const QByteArray &t : sorted)
            out += QByteArray::number(it.key()) + ' ' + t + '\n';
    }
    return out;
}
