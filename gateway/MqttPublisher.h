#ifndef RQ_GATEWAY_MQTTPUBLISHER_H
#define RQ_GATEWAY_MQTTPUBLISHER_H

#include "gateway/GatewayConfig.h"
#include "gateway/MqttTopics.h"
#include "gateway/Poller.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QSet>

#include <atomic>
#include <condition_variable>
#include <mutex>

struct mosquitto;
struct mosquitto_message;

// The JSON of rq/NAME/ADDRESS/state for a snapshot whose cycle began at time
// (its first read, the age of its oldest value).
QByteArray StateJson(const ModuleSnapshot &m, const QDateTime &time);
// The client id: rqgw-NAME-<machine id>-<pid>.
QByteArray MqttClientId(const QByteArray &name);

// The gateway as an MQTT client (libmosquitto, on its own network thread):
// status and last will, each module's state and availability, output
// commands and Home Assistant discovery. The polling thread hands it
// snapshots; nothing here waits on the broker.
//
// Before it publishes anything under rq/NAME after a connection it checks
// that no other gateway of its name is live there (rq/NAME/instance and
// status); one that is makes it refuse, and the first goes on undisturbed.
class MqttPublisher : public GatewayObserver
{
public:
    // instance: what tells this gateway from another of its host (its
    // configuration file, else its Modbus address).
    MqttPublisher(const GatewayConfig &cfg, const QString &name, const QString &instance,
                  SnapshotStore &store, Poller &poller);
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

    // The check of the name: not yet made, passed, or refused (another live gateway has it).
    enum class NameCheck { Pending, Passed, Refused };
    // Waits at most ms for the first connection's check; Pending when the
    // broker could not be reached meanwhile (checked when it can).
    NameCheck waitForNameCheck(int ms);
    bool refused() const { return m_check == NameCheck::Refused; }
    // Why, in Czech, naming the other gateway's host.
    QString refusal() const;

    void cycleComplete(const ModuleSnapshot &m) override;
    void moduleOnline(const ModuleSnapshot &m) override;
    void moduleOffline(const ModuleSnapshot &m) override;
    void moduleStale(const ModuleSnapshot &m) override;
    void modulesChanged() override;

private:
    struct Module
    {
        QByteArray state;          // the newest state, the only one that waits for the broker
        qint64 sentMs = -1;        // monotonic ms of the last state sent
        bool stateSent = true;     // false: state is newer than what the broker has
        bool staleOffline = false; // "offline" said for old values, "online" again with fresh ones
        // Discovery: what the configurations were made of, and what they are.
        QByteArray discoveryKey;
        QMap<QByteArray, QByteArray> discovery;
        // Plain value topics: the newest, and what the broker has (leaf -> payload).
        QMap<QByteArray, QByteArray> values, valuesSent;
        bool swept = false; // topics of an earlier run it no longer has are deleted
    };

    static void onConnect(mosquitto *, void *self, int rc);
    static void onDisconnect(mosquitto *, void *self, int rc);
    static void onPublish(mosquitto *, void *self, int mid);
    static void onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted);
    static void onMessage(mosquitto *, void *self, const mosquitto_message *msg);

    void publish(const QByteArray &topic, const QByteArray &payload, bool retain, int *mid = nullptr);
    // A retained topic of a module: listed (an empty payload deletes it and
    // takes it off the list). m_lock held.
    void publishModule(int address, const QByteArray &topic, const QByteArray &payload);
    void saveTopics();
    // Deletes every topic of modules no longer configured. m_lock held.
    void prune();
    bool configured(int address) const;
    void nameChecked();
    // Status, availability, newest states and discovery, all again.
    void resend();
    QByteArray topic(int address, const char *leaf) const;
    void sendState(int address, Module &mod, bool all);
    void discover(const ModuleSnapshot &m, Module &mod, bool all);
    void sweep(int address, Module &mod);
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
    std::mutex m_lock; // guards m_modules and m_retained
    QMap<int, Module> m_modules;
    // Every retained module topic on the broker, by bus address; kept in m_topicsFile.
    QMap<int, QSet<QByteArray>> m_retained;
    QString m_topicsFile;
    bool m_saveFailed = false;
    std::mutex m_publishLock;
    std::condition_variable m_published;
    int m_lastMid = 0;
    // Messages handed to libmosquitto and not yet acknowledged by the broker.
    const int m_maxWaiting;
    std::atomic<int> m_waiting{0};
    std::atomic<bool> m_behind{false}; // some were dropped: everything again once the broker caught up
    // The name's check, on the network thread but for its result.
    GatewayInstance m_me;
    QByteArray m_checkTopic;
    int m_checkSubscription = -1;
    bool m_checking = false;
    bool m_foreignTold = false;
    QByteArray m_seenInstance, m_seenStatus;
    std::atomic<NameCheck> m_check{NameCheck::Pending};
    std::atomic<bool> m_unreachable{false};
    std::atomic<bool> m_closed{false};   // the network thread saw the connection end
    std::atomic<bool> m_stopping{false}; // stop() began: our own "offline" is no stray will
    mutable std::mutex m_checkLock;      // guards m_refusal
    std::condition_variable m_checked;
    QString m_refusal;
    // Polling thread only.
    qint64 m_offsetAt = -1;
    int m_offsetS = 0;
};

#endif
