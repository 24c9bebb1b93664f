#include "gateway/MqttPublisher.h"

#include "gateway/Log.h"
#include "gateway/MqttCommand.h"

#include <mosquitto.h>

#include <QFile>

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace {
constexpr int Qos = 1;
constexpr int KeepAliveS = 30;

void number(QByteArray &out, float v, int decimals)
{
    if (std::isnan(v) || std::isinf(v))
        out += "null";
    else
        out += QByteArray::number(static_cast<double>(v), 'f', std::clamp(decimals, 0, 6));
}

QByteArray quoted(const QString &text)
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
} // namespace

QByteArray StateJson(const ModuleSnapshot &m, const QDateTime &time)
{
    QByteArray out;
    out.reserve(512);
    out += "{\"address\":" + QByteArray::number(m.address);
    out += ",\"model\":" + quoted(m.model);
    out += ",\"firmware\":" + quoted(m.firmware);
    // Local time with its offset written out, +00:00 rather than Z.
    const int offset = time.offsetFromUtc() / 60;
    const QDate d = time.date();
    const QTime t = time.time();
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, ",\"time\":\"%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d\"",
                  d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec(),
                  offset < 0 ? '-' : '+', std::abs(offset) / 60, std::abs(offset) % 60);
    out += stamp;
    out += m.online ? ",\"online\":true" : ",\"online\":false";
    out += ",\"ain\":[";
    for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
        if (i)
            out += ',';
        const auto k = static_cast<std::size_t>(i);
        number(out, m.ainUnit[k] ? m.ain[k] : NAN, m.ainDecimals[k]);
    }
    out += "],\"units\":[";
    for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
        if (i)
            out += ',';
        const char *u = UnitSymbol(m.ainUnit[static_cast<std::size_t>(i)]);
        out += u ? QByteArray("\"") + u + '"' : QByteArray("null");
    }
    out += "],\"temperature\":";
    number(out, static_cast<UnitCode>(m.temperatureUnit) == UnitCode::Celsius ? m.temperature : NAN,
           m.temperatureDecimals);
    out += ",\"din\":" + QByteArray::number(m.din);
    // Outputs the gateway does not know are no number: null, and Home
    // Assistant's switches show unknown.
    out += ",\"dout\":" + (m.doutKnown ? QByteArray::number(m.dout) : QByteArray("null"));
    out += m.doutKnown ? ",\"doutKnown\":true" : ",\"doutKnown\":false";
    out += ",\"status\":" + QByteArray::number(m.status) + '}';
    return out;
}

QByteArray MqttClientId(const QByteArray &name)
{
    // Unique to this instance: a broker drops the older of two clients with
    // one id, and each would take the other's place again and again.
    QByteArray machine;
    QFile f(QStringLiteral("/etc/machine-id"));
    if (f.open(QIODevice::ReadOnly))
        machine = f.readLine(64).trimmed().left(12);
    if (machine.isEmpty()) {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        machine = host;
    }
    return "rqgw-" + name + '-' + machine + '-' + QByteArray::number(getpid());
}

MqttPublisher::MqttPublisher(const GatewayConfig &cfg, const QString &name, SnapshotStore &store,
                             Poller &poller)
    : m_cfg(cfg), m_name(name.toUtf8()), m_base("rq/" + name.toUtf8()), m_store(store), m_poller(poller),
      // Room for everything a connection sends at once: status, every
      // module's availability, state and discovery.
      m_maxWaiting(1000 + 100 * static_cast<int>(std::max(cfg.modules.size(), cfg.searchAddresses.size())))
{
}

MqttPublisher::~MqttPublisher()
{
    stop();
}

bool MqttPublisher::start(QString &error)
{
    mosquitto_lib_init();
    m_mosq = mosquitto_new(MqttClientId(m_name).constData(), true, this);
    if (!m_mosq) {
        error = QStringLiteral("klienta MQTT nelze vytvořit");
        return false;
    }
    mosquitto_connect_callback_set(m_mosq, &MqttPublisher::onConnect);
    mosquitto_disconnect_callback_set(m_mosq, &MqttPublisher::onDisconnect);
    mosquitto_publish_callback_set(m_mosq, &MqttPublisher::onPublish);
    mosquitto_message_callback_set(m_mosq, &MqttPublisher::onMessage);
    mosquitto_reconnect_delay_set(m_mosq, 1, 30, true);
    const QByteArray status = m_base + "/status";
    mosquitto_will_set(m_mosq, status.constData(), 7, "offline", Qos, true);
    if (!m_cfg.mqttUser.isEmpty()) {
        QString password;
        if (!ReadMqttPassword(m_cfg, password, error))
            return false;
        const QByteArray pw = password.toUtf8();
        mosquitto_username_pw_set(m_mosq, m_cfg.mqttUser.toUtf8().constData(),
                                  MqttPasswordFile(m_cfg).isEmpty() ? nullptr : pw.constData());
    }
    if (!m_cfg.mqttCafile.isEmpty()) {
        const int rc = mosquitto_tls_set(m_mosq, m_cfg.mqttCafile.toUtf8().constData(), nullptr, nullptr,
                                         nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = QStringLiteral("TLS: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
            return false;
        }
    }
    // A broker that is not there yet is no error: the network thread keeps trying.
    const int rc =
        mosquitto_connect_async(m_mosq, m_cfg.mqtt->host.toUtf8().constData(), m_cfg.mqtt->port, KeepAliveS);
    if (rc != MOSQ_ERR_SUCCESS)
        Log(LogLevel::Warning, QStringLiteral("broker MQTT %1:%2: %3 (zkouší se dál)")
                                   .arg(m_cfg.mqtt->host)
                                   .arg(m_cfg.mqtt->port)
                                   .arg(QString::fromUtf8(mosquitto_strerror(rc))));
    if (mosquitto_loop_start(m_mosq) != MOSQ_ERR_SUCCESS) {
        error = QStringLiteral("vlákno klienta MQTT nelze spustit");
        return false;
    }
    return true;
}

void MqttPublisher::stop()
{
    if (!m_mosq)
        return;
    const bool wasConnected = m_connected;
    bool acked = false;
    if (wasConnected) {
        int mid = 0;
        std::unique_lock lock(m_publishLock);
        m_lastMid = 0;
        // Within a second: SIGTERM ends the gateway within two.
        if (mosquitto_publish(m_mosq, &mid, QByteArray(m_base + "/status").constData(), 7, "offline", Qos,
                              true) == MOSQ_ERR_SUCCESS)
            acked = m_published.wait_for(lock, std::chrono::seconds(1), [&] { return m_lastMid == mid; });
    }
    // Answered: the network thread ends after sending DISCONNECT. Else it
    // may be waiting to reconnect, or on a broker that stopped reading,
    // and is ended at once.
    mosquitto_disconnect(m_mosq);
    mosquitto_loop_stop(m_mosq, !acked);
    mosquitto_destroy(m_mosq);
    m_mosq = nullptr;
    mosquitto_lib_cleanup();
}

QByteArray MqttPublisher::topic(int address, const char *leaf) const
{
    return m_base + '/' + QByteArray::number(address) + '/' + leaf;
}

void MqttPublisher::publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid)
{
    // What waits for the broker is bounded: a broker that takes the
    // connection but stops reading would otherwise collect every message
    // in this process. Beyond the bound messages are dropped, and once the
    // broker has caught up everything is sent anew.
    if (m_waiting.load() >= m_maxWaiting) {
        m_behind = true;
        return;
    }
    if (mosquitto_publish(m_mosq, mid, topic.constData(), static_cast<int>(payload.size()),
                          payload.constData(), Qos, retain) == MOSQ_ERR_SUCCESS)
        ++m_waiting;
}

void MqttPublisher::sendState(int address, Module &mod)
{
    publish(topic(address, "state"), mod.state, true);
    mod.sentMs = MonotonicMs();
    mod.stateSent = true;
}

void MqttPublisher::cycleComplete(const ModuleSnapshot &m)
{
    // The cycle's values date from lastCompleteMs on the monotonic clock; a
    // cycle that took longer than the stale age is not passed on as fresh.
    // The time zone's offset is looked up once a minute: the lookup costs
    // more than the rest of the message.
    const qint64 now = MonotonicMs();
    if (!m.fresh(now, m_store.staleMs))
        return;
    if (m_offsetAt < 0 || now - m_offsetAt > 60000) {
        m_offsetS = QDateTime::currentDateTime().offsetFromUtc();
        m_offsetAt = now;
    }
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(
        QDateTime::currentMSecsSinceEpoch() + m.lastCompleteMs - now, Qt::OffsetFromUTC, m_offsetS);
    QByteArray json = StateJson(m, time);
    std::lock_guard lock(m_lock);
    Module &mod = m_modules[m.address];
    mod.state = std::move(json);
    mod.stateSent = false;
    if (!m_connected)
        return; // only this newest state waits for the broker
    if (mod.staleOffline) {
        publish(topic(m.address, "availability"), "online", true);
        mod.staleOffline = false;
    }
    if (mod.sentMs < 0 || MonotonicMs() - mod.sentMs >= m_cfg.mqttIntervalMs)
        sendState(m.address, mod);
    if (m_cfg.haDiscovery && !mod.discovered) {
        discover(m);
        mod.discovered = true;
    }
}

void MqttPublisher::moduleOnline(const ModuleSnapshot &m)
{
    if (m_connected)
        publish(topic(m.address, "availability"), "online", true);
}

void MqttPublisher::moduleOffline(const ModuleSnapshot &m)
{
    if (m_connected)
        publish(topic(m.address, "availability"), "offline", true);
}

void MqttPublisher::moduleStale(const ModuleSnapshot &m)
{
    // A subscriber sees the retained state as current while the module is
    // available: values Modbus no longer serves must not stand that way.
    std::lock_guard lock(m_lock);
    m_modules[m.address].staleOffline = true;
    if (m_connected)
        publish(topic(m.address, "availability"), "offline", true);
}

void MqttPublisher::onConnect(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    if (rc != 0) {
        Log(LogLevel::Error, QStringLiteral("broker MQTT odmítl spojení: %1")
                                 .arg(QString::fromUtf8(mosquitto_connack_string(rc))));
        return;
    }
    Log(LogLevel::Info, QStringLiteral("připojeno k brokeru MQTT %1:%2 jako %3")
                            .arg(p->m_cfg.mqtt->host)
                            .arg(p->m_cfg.mqtt->port)
                            .arg(QString::fromUtf8(p->m_base)));
    mosquitto_subscribe(p->m_mosq, nullptr, QByteArray(p->m_base + "/+/dout/set").constData(), Qos);
    mosquitto_subscribe(p->m_mosq, nullptr, QByteArray(p->m_base + "/+/dout/+/set").constData(), Qos);
    p->m_connected = true;
    p->m_everConnected = true;
    p->resend();
}

void MqttPublisher::resend()
{
    // A broker that lost its retained messages (or that took none for a
    // while) gets them all again.
    publish(m_base + "/status", "online", true);
    const QList<ModuleSnapshot> all = m_store.all();
    std::lock_guard lock(m_lock);
    const qint64 now = MonotonicMs();
    for (const ModuleSnapshot &m : all) {
        publish(topic(m.address, "availability"), m.fresh(now, m_store.staleMs) ? "online" : "offline", true);
        const auto it = m_modules.find(m.address);
        if (it == m_modules.end())
            continue;
        // A module past --stale keeps its last state here: sent now, it
        // would reach subscribers as new.
        if (!it->state.isEmpty() && m.fresh(now, m_store.staleMs))
            sendState(m.address, *it);
        if (m_cfg.haDiscovery && m.completeCycles > 0) {
            discover(m);
            it->discovered = true;
        }
    }
}

void MqttPublisher::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    p->m_connected = false;
    if (rc != 0)
        Log(LogLevel::Warning,
            QStringLiteral("spojení s brokerem MQTT ztraceno, zkouší se znovu (1 až 30 s)"));
}

void MqttPublisher::onPublish(mosquitto *, void *self, int mid)
{
    auto *p = static_cast<MqttPublisher *>(self);
    {
        std::lock_guard lock(p->m_publishLock);
        p->m_lastMid = mid;
    }
    p->m_published.notify_all();
    int waiting = p->m_waiting.load();
    while (waiting > 0 && !p->m_waiting.compare_exchange_weak(waiting, waiting - 1)) {
    }
    if (waiting <= 1 && p->m_behind.exchange(false) && p->m_connected)
        p->resend();
}

void MqttPublisher::onMessage(mosquitto *, void *self, const mosquitto_message *msg)
{
    auto *p = static_cast<MqttPublisher *>(self);
    const QByteArray topic(msg->topic);
    const QByteArray payload(static_cast<const char *>(msg->payload),
                             msg->payloadlen > 0 ? msg->payloadlen : 0);
    switch (FateOfCommand(msg->retain, payload)) {
    case CommandFate::Ignore:
        return;
    case CommandFate::RefuseRetained:
        p->refuseRetained(topic);
        return;
    case CommandFate::Carry:
        p->command(topic, payload);
        return;
    }
}

void MqttPublisher::refuseRetained(const QByteArray &topicName)
{
    const std::optional<DoutTopic> t = ParseDoutTopic(m_base, topicName);
    if (!t)
        return;
    publish(topicName, QByteArray(), true); // deletes the retained message
    Log(LogLevel::Warning,
        QStringLiteral("MQTT: příkaz uložený na brokeru (retained) v %1 se neprovádí; brána ho smazala")
            .arg(QString::fromUtf8(topicName)));
    result(t->address, RetainedRefusal(topicName));
}

void MqttPublisher::result(int address, const QString &error)
{
    const QByteArray payload =
        error.isEmpty() ? QByteArray("{\"ok\":true}") : "{\"ok\":false,\"error\":" + quoted(error) + '}';
    publish(topic(address, "dout/result"), payload, false);
}

void MqttPublisher::command(const QByteArray &topicName, const QByteArray &payload)
{
    const std::optional<DoutTopic> t = ParseDoutTopic(m_base, topicName);
    if (!t)
        return;
    if (!m_store.allowWrites) {
        result(t->address, QStringLiteral("zápis výstupů je vypnut (spusťte bránu s --allow-writes)"));
        return;
    }
    const DoutCommand c = ParseDoutCommand(t->output, payload);
    if (!c.ok) {
        result(t->address, c.error);
        return;
    }
    // The polling thread does the write, between two of its transactions.
    CoilWrite w;
    w.busAddress = t->address;
    w.address = c.first;
    w.count = c.count;
    w.values = c.values;
    const int address = t->address;
    w.done = [this, address](const CoilWriteResult &r) {
        if (r.exception == 0)
            result(address, {});
        else if (r.outputsUnknown)
            result(address, OutputsUnknownRefusal(topic(address, "dout/set")));
        else
            result(address, r.error.isEmpty() ? QStringLiteral("zápis se nepodařil") : r.error);
    };
    m_poller.submitWrite(w);
}

void MqttPublisher::discover(const ModuleSnapshot &m)
{
    // One device a module, its entities reading the state topic; available
    // while both the gateway and the module are.
    const QByteArray id = "rq_" + m_name + '_' + QByteArray::number(m.address);
    const QByteArray state = topic(m.address, "state");
    const QByteArray common = ",\"state_topic\":\"" + state +
                              "\",\"availability_mode\":\"all\",\"availability\":[{\"topic\":\"" + m_base +
                              "/status\"},{\"topic\":\"" + topic(m.address, "availability") +
                              "\"}],\"device\":{\"identifiers\":[\"" + id + "\"],\"name\":" + quoted(m.name) +
                              ",\"manufacturer\":\"RQ\",\"model\":" + quoted(m.model) +
                              ",\"sw_version\":" + quoted(m.firmware) + "}";
    const auto config = [&](const char *component, const QByteArray &object, const QByteArray &body) {
        publish("homeassistant/" + QByteArray(component) + '/' + id + '_' + object + "/config",
                "{\"unique_id\":\"" + id + '_' + object + "\",\"object_id\":\"" + id + '_' + object + "\"," +
                    body + common + '}',
                true);
    };
    for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
        const char *u = UnitSymbol(m.ainUnit[static_cast<std::size_t>(i)]);
        if (!u)
            continue;
        const QByteArray n = QByteArray::number(i);
        config("sensor", "ain" + n,
               "\"name\":\"AIN" + n + "\",\"unit_of_measurement\":\"" + u +
                   "\",\"state_class\":\"measurement\",\"value_template\":\"{{ value_json.ain[" + n +
                   "] }}\"");
    }
    if (static_cast<UnitCode>(m.temperatureUnit) == UnitCode::Celsius)
        config("sensor", "temperature",
               "\"name\":\"Teplota\",\"unit_of_measurement\":\"°C\",\"device_class\":\"temperature\","
               "\"state_class\":\"measurement\",\"value_template\":\"{{ value_json.temperature }}\"");
    for (int i = 0; i < 32; ++i) {
        const QByteArray n = QByteArray::number(i);
        const QByteArray bit = QByteArray::number(1u << i);
        config("binary_sensor", "din" + n,
               "\"name\":\"DIN" + n + "\",\"value_template\":\"{{ 'ON' if value_json.din | bitwise_and(" +
                   bit + ") else 'OFF' }}\"");
        if (m_cfg.allowWrites)
            config(
                "switch", "dout" + n,
                "\"name\":\"DOUT" + n + "\",\"command_topic\":\"" + topic(m.address, "dout/") + n +
                    "/set\",\"payload_on\":\"ON\",\"payload_off\":\"OFF\",\"state_on\":\"ON\",\"state_off\":\"OFF\","
                    "\"value_template\":\"{{ 'None' if value_json.dout is none else 'ON' if value_json.dout | "
                    "bitwise_and(" +
                    bit + ") else 'OFF' }}\"");
    }
}
