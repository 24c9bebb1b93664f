#ifndef RQ_GATEWAY_MQTTPUBLISHER_H
#define RQ_GATEWAY_MQTTPUBLISHER_H

#include "gateway/GatewayConfig.h"
#include "gateway/Poller.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>

#include <atomic>
#include <condition_variable>
#include <mutex>

struct mosquitto;
struct mosquitto_message;

// The JSON of rq/NAME/ADDRESS/state for a snapshot whose cycle ended at time.
QByteArray StateJson(const ModuleSnapshot &m, const QDateTime &time);
// The client id: rqgw-NAME-<machine id>-<pid>.
QByteArray MqttClientId(const QByteArray &name);

// The gateway as an MQTT client (libmosquitto, on its own network thread):
// status and last will, each module's state and availability, output
// commands and Home Assistant discovery. The polling thread hands it
// snapshots; nothing here waits on the broker.
class MqttPublisher : public GatewayObserver
{
public:
    MqttPublisher(const GatewayConfig &cfg, const QString &name, SnapshotStore &store, Poller &poller);
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher &) = delete;
    MqttPublisher &operator=(const MqttPublisher &) = delete;

    // Starts connecting (and reconnecting, 1 s to 30 s apart); false only
    // when the client cannot be set up at all.
    bool start(QString &error);
    // Publishes "offline" itself and disconnects.
    void stop();
    QByteArray base() const { return m_base; }
    bool connected() const { return m_connected; }

    void cycleComplete(const ModuleSnapshot &m) override;
    void moduleOnline(const ModuleSnapshot &m) override;
    void moduleOffline(const ModuleSnapshot &m) override;
    void moduleStale(const ModuleSnapshot &m) override;

private:
    struct Module
    {
        QByteArray state;      // the newest state, the only one that waits for the broker
        qint64 sentMs = -1;    // monotonic ms of the last state sent
        bool stateSent = true; // false: state is newer than what the broker has
        bool discovered = false;
        bool staleOffline = false; // "offline" said for old values, "online" again with fresh ones
    };

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *msg);

    void publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid = nullptr);
    // Status, availability, newest states and discovery, all again.
    void resend();
    QByteArray topic(int address, const char *leaf) const;
    void sendState(int address, Module &mod);
    void discover(const ModuleSnapshot &m);
    void command(const QByteArray &topic, const QByteArray &payload);
    void refuseRetained(const QByteArray &topic);
    void result(int address, const QString &error);

    GatewayConfig m_cfg;
    QByteArray m_name;
    QByteArray m_base;
    SnapshotStore &m_store;
    Poller &m_poller;
    mosquitto *m_mosq = nullptr;
    std::atomic<bool> m_connected{false};
    std::atomic<bool> m_everConnected{false};
    std::mutex m_lock; // guards m_modules
    QMap<int, Module> m_modules;
    std::mutex m_publishLock;
    std::condition_variable m_published;
    int m_lastMid = 0;
    // Messages handed to libmosquitto and not yet acknowledged by the broker.
    const int m_maxWaiting;
    std::atomic<int> m_waiting{0};
    std::atomic<bool> m_behind{false}; // some were dropped: everything again once the broker caught up
    // Polling thread only.
    qint64 m_offsetAt = -1;
    int m_offsetS = 0;
};

#endif
