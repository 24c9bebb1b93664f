#include "gateway/MqttPublisher.h"

#include "gateway/Log.h"
#include "gateway/MqttCommand.h"

#include <mosquitto.h>

#include <QFile>
#include <QSaveFile>

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace {
constexpr int Qos = 1;
constexpr int KeepAliveS = 30;

void number(QByteArray &out, float v, int decimals)
{
    JsonNumber(out, v, decimals);
}

QByteArray quoted(const QString &text)
{
    return JsonString(text);
}

QByteArray machineId()
{
    QFile f(QStringLiteral("/etc/machine-id"));
    QByteArray machine;
    if (f.open(QIODevice::ReadOnly))
        machine = f.readLine(64).trimmed();
    if (machine.isEmpty()) {
        char host[256] = {};
        gethostname(host, sizeof host - 1);
        machine = host;
    }
    return machine;
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
    out += m.drift < 0 ? ",\"drift\":null" : m.drift ? ",\"drift\":true" : ",\"drift\":false";
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
    return "rqgw-" + name + '-' + machineId().left(12) + '-' + QByteArray::number(getpid());
}

MqttPublisher::MqttPublisher(const GatewayConfig &cfg, const QString &name, const QString &instance,
                             SnapshotStore &store, Poller &poller)
    : m_cfg(cfg), m_name(name.toUtf8()), m_base("rq/" + name.toUtf8()), m_store(store), m_poller(poller),
      // Room for everything a connection sends at once: status, every
      // module's availability, state, plain values and discovery.
      m_maxWaiting(1000 + 200 * static_cast<int>(std::max(cfg.modules.size(), cfg.searchAddresses.size())))
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    m_me.host = QString::fromLocal8Bit(host);
    m_me.machine = QString::fromLatin1(machineId());
    m_me.instance = instance;
    m_me.pid = getpid();
    m_me.started = QDateTime::currentDateTime()
                       .toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                       .toString(Qt::ISODate);
    m_topicsFile = MqttTopicsFile(cfg, name);
    if (!m_topicsFile.isEmpty()) {
        QFile f(m_topicsFile);
        if (f.open(QIODevice::ReadOnly))
            m_retained = ParseTopicList(f.read(16 * 1024 * 1024));
    }
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
    mosquitto_subscribe_callback_set(m_mosq, &MqttPublisher::onSubscribe);
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
        m_unreachable = true;
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
    m_stopping = true;
    const bool wasConnected = m_connected;
    // Refused: DISCONNECT is on its way, and must reach the broker (else it
    // would publish the last will over the other gateway's status).
    bool acked = m_check == NameCheck::Refused;
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
    m_closed = false;
    mosquitto_disconnect(m_mosq);
    if (m_check == NameCheck::Refused) {
        std::unique_lock lock(m_checkLock);
        m_checked.wait_for(lock, std::chrono::seconds(2), [this] { return m_closed.load(); });
    }
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

void MqttPublisher::publishModule(int address, const QByteArray &topicName, const QByteArray &payload)
{
    publish(topicName, payload, true);
    bool changed = false;
    if (payload.isEmpty()) {
        const auto it = m_retained.find(address);
        if (it != m_retained.end()) {
            changed = it->remove(topicName);
            if (it->isEmpty())
                m_retained.erase(it);
        }
    } else {
        QSet<QByteArray> &set = m_retained[address];
        changed = !set.contains(topicName);
        set.insert(topicName);
    }
    if (changed)
        saveTopics();
}

void MqttPublisher::saveTopics()
{
    if (m_topicsFile.isEmpty())
        return;
    QSaveFile f(m_topicsFile);
    if (f.open(QIODevice::WriteOnly) && f.write(TopicListText(m_retained)) >= 0 && f.commit()) {
        m_saveFailed = false;
        return;
    }
    if (!m_saveFailed)
        Log(LogLevel::Warning,
            QStringLiteral("seznam témat MQTT %1 nelze zapsat: %2 (témata odebraných modulů "
                           "po restartu nesmaže)")
                .arg(m_topicsFile, f.errorString()));
    m_saveFailed = true;
}

bool MqttPublisher::configured(int address) const
{
    if (m_cfg.searchAddresses.contains(static_cast<quint8>(address)) && address <= 255)
        return true;
    for (const SnapshotStore::Snapshot &s : m_store.snapshots())
        if (s->address == address)
            return true;
    return false;
}

void MqttPublisher::prune()
{
    // Modules taken out of the configuration (now or while the gateway was
    // stopped) leave nothing behind: no config Home Assistant would show as
    // unavailable for ever, no availability or state.
    for (const int address : m_retained.keys()) {
        if (configured(address))
            continue;
        const QSet<QByteArray> topics = m_retained.value(address);
        for (const QByteArray &t : topics)
            publishModule(address, t, {});
        m_modules.remove(address);
        Log(LogLevel::Info,
            QStringLiteral("MQTT: modul na adrese %1 už není v konfiguraci, jeho témata smazána")
                .arg(address));
    }
    for (const int address : m_modules.keys())
        if (!configured(address))
            m_modules.remove(address);
}

void MqttPublisher::modulesChanged()
{
    std::lock_guard lock(m_lock);
    if (m_connected)
        prune();
}

void MqttPublisher::sendState(int address, Module &mod, bool all)
{
    publishModule(address, topic(address, "state"), mod.state);
    mod.sentMs = MonotonicMs();
    mod.stateSent = true;
    if (!m_cfg.mqttValues)
        return;
    const QByteArray prefix = m_base + '/' + QByteArray::number(address) + '/';
    for (auto it = mod.values.cbegin(); it != mod.values.cend(); ++it)
        if (all || mod.valuesSent.value(it.key()) != it.value())
            publishModule(address, prefix + it.key(), it.value());
    for (auto it = mod.valuesSent.cbegin(); it != mod.valuesSent.cend(); ++it)
        if (!mod.values.contains(it.key()))
            publishModule(address, prefix + it.key(), {}); // an input without a unit now
    mod.valuesSent = mod.values;
}

void MqttPublisher::discover(const ModuleSnapshot &m, Module &mod, bool all)
{
    // Made again only when what they say may have changed.
    const bool writes = m_store.allowWrites;
    QByteArray key = m.name.toUtf8() + '\n' + m.model.toUtf8() + '\n' + m.firmware.toUtf8() + '\n' +
                     (writes ? "w" : "r") + QByteArray::number(m.temperatureUnit);
    for (const quint16 u : m.ainUnit)
        key += ',' + QByteArray::number(u);
    if (!all && key == mod.discoveryKey)
        return;
    const QMap<QByteArray, QByteArray> configs =
        DiscoveryConfigs(m, m_base, QString::fromUtf8(m_name), writes);
    for (auto it = configs.cbegin(); it != configs.cend(); ++it)
        if (all || mod.discovery.value(it.key()) != it.value())
            publishModule(m.address, it.key(), it.value());
    for (auto it = mod.discovery.cbegin(); it != mod.discovery.cend(); ++it)
        if (!configs.contains(it.key()))
            publishModule(m.address, it.key(), {});
    if (!mod.discoveryKey.isEmpty() && key != mod.discoveryKey)
        Log(LogLevel::Info, QStringLiteral("MQTT: konfigurace pro Home Assistant modulu %1 publikována znovu "
                                           "(změna jednotek, typu, firmwaru nebo allow-writes)")
                                .arg(m.name));
    mod.discovery = configs;
    mod.discoveryKey = key;
}

void MqttPublisher::sweep(int address, Module &mod)
{
    // What an earlier run left and this one no longer says (switches after
    // writes were turned off, plain values after mqtt-values was).
    QSet<QByteArray> keep{topic(address, "state"), topic(address, "availability")};
    for (auto it = mod.discovery.cbegin(); it != mod.discovery.cend(); ++it)
        keep.insert(it.key());
    for (auto it = mod.valuesSent.cbegin(); it != mod.valuesSent.cend(); ++it)
        keep.insert(m_base + '/' + QByteArray::number(address) + '/' + it.key());
    for (const QByteArray &t : m_retained.value(address))
        if (!keep.contains(t))
            publishModule(address, t, {});
    mod.swept = true;
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
    if (!configured(m.address))
        return; // a cycle that ended just as a reload took the module out
    Module &mod = m_modules[m.address];
    mod.state = std::move(json);
    mod.stateSent = false;
    if (m_cfg.mqttValues)
        mod.values = PlainValues(m);
    if (!m_connected)
        return; // only this newest state waits for the broker
    if (mod.staleOffline) {
        publishModule(m.address, topic(m.address, "availability"), "online");
        mod.staleOffline = false;
    }
    if (mod.sentMs < 0 || MonotonicMs() - mod.sentMs >= m_cfg.mqttIntervalMs)
        sendState(m.address, mod, false);
    if (m_cfg.haDiscovery)
        discover(m, mod, false);
    if (!mod.swept && mod.stateSent)
        sweep(m.address, mod);
}

void MqttPublisher::moduleOnline(const ModuleSnapshot &m)
{
    std::lock_guard lock(m_lock);
    if (m_connected && configured(m.address))
        publishModule(m.address, topic(m.address, "availability"), "online");
}

void MqttPublisher::moduleOffline(const ModuleSnapshot &m)
{
    std::lock_guard lock(m_lock);
    if (m_connected && configured(m.address))
        publishModule(m.address, topic(m.address, "availability"), "offline");
}

void MqttPublisher::moduleStale(const ModuleSnapshot &m)
{
    // A subscriber sees the retained state as current while the module is
    // available: values Modbus no longer serves must not stand that way.
    std::lock_guard lock(m_lock);
    m_modules[m.address].staleOffline = true;
    if (m_connected && configured(m.address))
        publishModule(m.address, topic(m.address, "availability"), "offline");
}

void MqttPublisher::onConnect(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    if (rc != 0) {
        {
            std::lock_guard lock(p->m_checkLock);
            p->m_unreachable = true;
        }
        p->m_checked.notify_all();
        Log(LogLevel::Error, QStringLiteral("broker MQTT odmítl spojení: %1")
                                 .arg(QString::fromUtf8(mosquitto_connack_string(rc))));
        return;
    }
    Log(LogLevel::Info, QStringLiteral("připojeno k brokeru MQTT %1:%2 jako %3")
                            .arg(p->m_cfg.mqtt->host)
                            .arg(p->m_cfg.mqtt->port)
                            .arg(QString::fromUtf8(p->m_base)));
    // Nothing goes out under the base before the name is checked: the
    // retained identity and status come first, then a message of our own
    // through the broker, which it hands over after them.
    p->m_checking = true;
    p->m_seenInstance.clear();
    p->m_seenStatus.clear();
    p->m_checkTopic = p->m_base + "/instance/check/" + MqttClientId(p->m_name);
    const QByteArray instance = p->m_base + "/instance", status = p->m_base + "/status";
    char *const topics[] = {const_cast<char *>(instance.constData()), const_cast<char *>(status.constData()),
                            const_cast<char *>(p->m_checkTopic.constData())};
    int mid = 0;
    mosquitto_subscribe_multiple(p->m_mosq, &mid, 3, topics, Qos, 0, nullptr);
    p->m_checkSubscription = mid;
}

void MqttPublisher::onSubscribe(mosquitto *, void *self, int mid, int, const int *)
{
    auto *p = static_cast<MqttPublisher *>(self);
    if (p->m_checking && mid == p->m_checkSubscription)
        p->publish(p->m_checkTopic, "check", false);
}

void MqttPublisher::nameChecked()
{
    m_checking = false;
    const std::optional<QString> taken =
        NameTaken(m_me, m_seenInstance, m_seenStatus, QString::fromUtf8(m_name));
    if (taken) {
        Log(LogLevel::Error, *taken);
        {
            std::lock_guard lock(m_checkLock);
            m_refusal = *taken;
        }
        {
            std::lock_guard lock(m_checkLock);
            m_check = NameCheck::Refused;
        }
        m_checked.notify_all();
        return; // stop() disconnects cleanly, and the broker keeps the last will to itself
    }
    // (Not when refused: the broker, still answering an unsubscription,
    // could miss the DISCONNECT that follows and publish the last will.)
    // The status stays subscribed: a stray last will of another instance of
    // the name (one refused at start whose connection then broke) is
    // answered at once.
    mosquitto_unsubscribe(m_mosq, nullptr, m_checkTopic.constData());
    publish(m_base + "/instance", m_me.json(), true);
    mosquitto_subscribe(m_mosq, nullptr, QByteArray(m_base + "/+/dout/set").constData(), Qos);
    mosquitto_subscribe(m_mosq, nullptr, QByteArray(m_base + "/+/dout/+/set").constData(), Qos);
    m_connected = true;
    m_everConnected = true;
    {
        std::lock_guard lock(m_checkLock);
        m_check = NameCheck::Passed;
    }
    m_checked.notify_all();
    resend();
}

MqttPublisher::NameCheck MqttPublisher::waitForNameCheck(int ms)
{
    std::unique_lock lock(m_checkLock);
    m_checked.wait_for(lock, std::chrono::milliseconds(ms),
                       [this] { return m_check != NameCheck::Pending || m_unreachable; });
    return m_check;
}

QString MqttPublisher::refusal() const
{
    std::lock_guard lock(m_checkLock);
    return m_refusal;
}

void MqttPublisher::resend()
{
    // A broker that lost its retained messages (or that took none for a
    // while) gets them all again.
    publish(m_base + "/status", "online", true);
    const QList<ModuleSnapshot> all = m_store.all();
    std::lock_guard lock(m_lock);
    prune();
    const qint64 now = MonotonicMs();
    for (const ModuleSnapshot &m : all) {
        publishModule(m.address, topic(m.address, "availability"),
                      m.fresh(now, m_store.staleMs) ? "online" : "offline");
        const auto it = m_modules.find(m.address);
        if (it == m_modules.end())
            continue;
        // A module past --stale keeps its last state here: sent now, it
        // would reach subscribers as new.
        if (!it->state.isEmpty() && m.fresh(now, m_store.staleMs))
            sendState(m.address, *it, true);
        if (m_cfg.haDiscovery && m.completeCycles > 0)
            discover(m, *it, true);
    }
}

void MqttPublisher::onDisconnect(mosquitto *, void *self, int rc)
{
    auto *p = static_cast<MqttPublisher *>(self);
    p->m_connected = false;
    p->m_checking = false;
    {
        std::lock_guard lock(p->m_checkLock);
        p->m_closed = true;
    }
    p->m_checked.notify_all();
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
    if (topic == p->m_base + "/instance") {
        if (p->m_checking) {
            p->m_seenInstance = payload;
        } else if (const auto other = GatewayInstance::fromJson(payload);
                   other && !other->sameAs(p->m_me) && !p->m_foreignTold) {
            // Both started at once, neither saw the other: said, not fought over.
            p->m_foreignTold = true;
            Log(LogLevel::Error,
                QStringLiteral("MQTT: jméno %1 právě převzala brána na počítači %2 (instance "
                               "%3): dvě brány stejného jména si přepisují témata")
                    .arg(QString::fromUtf8(p->m_name), other->host, other->instance));
        }
        return;
    }
    if (p->m_checking) {
        if (topic == p->m_base + "/status")
            p->m_seenStatus = payload;
        else if (topic == p->m_checkTopic)
            p->nameChecked();
        return; // no command before the name is ours
    }
    if (!p->m_connected)
        return;
    if (topic == p->m_base + "/status") {
        if (payload != "online" && !p->m_stopping) {
            Log(LogLevel::Warning, QStringLiteral("MQTT: %1 říká offline (poslední vůle jiné brány "
                                                  "stejného jména); tato brána běží, posílá online")
                                       .arg(QString::fromUtf8(topic)));
            p->publish(topic, "online", true);
        }
        return;
    }
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
    const std::optional<int> address = SetTopicAddress(m_base, topicName);
    if (!address)
        return;
    publish(topicName, QByteArray(), true); // deletes the retained message
    Log(LogLevel::Warning,
        QStringLiteral("MQTT: příkaz uložený na brokeru (retained) v %1 se neprovádí; brána ho smazala")
            .arg(QString::fromUtf8(topicName)));
    if (configured(*address))
        result(*address, RetainedRefusal(topicName));
}

void MqttPublisher::result(int address, const QString &error)
{
    const QByteArray payload =
        error.isEmpty() ? QByteArray("{\"ok\":true}") : "{\"ok\":false,\"error\":" + quoted(error) + '}';
    publish(topic(address, "dout/result"), payload, false);
}

void MqttPublisher::command(const QByteArray &topicName, const QByteArray &payload)
{
    // Every command on a set topic of a configured module is answered; one
    // for a module the gateway has not, only logged (it has no result topic).
    const std::optional<int> address = SetTopicAddress(m_base, topicName);
    if (!address)
        return;
    if (!configured(*address)) {
        Log(LogLevel::Warning, QStringLiteral("MQTT: příkaz v %1: modul na adrese %2 brána neobsluhuje")
                                   .arg(QString::fromUtf8(topicName))
                                   .arg(*address));
        return;
    }
    const std::optional<DoutTopic> t = ParseDoutTopic(m_base, topicName);
    if (!t) {
        result(*address, BadSetTopic(topicName, topic(*address, "dout/set")));
        return;
    }
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
    const int busAddress = t->address;
    w.done = [this, busAddress](const CoilWriteResult &r) {
        if (r.exception == 0)
            result(busAddress, {});
        else if (r.outputsUnknown)
            result(busAddress, OutputsUnknownRefusal(topic(busAddress, "dout/set")));
        else
            result(busAddress, r.error.isEmpty() ? QStringLiteral("zápis se nepodařil") : r.error);
    };
    m_poller.submitWrite(w);
}
