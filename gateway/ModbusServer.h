#ifndef RQ_GATEWAY_MODBUSSERVER_H
#define RQ_GATEWAY_MODBUSSERVER_H

#include "gateway/GatewayConfig.h"
#include "gateway/ModbusFrames.h"
#include "gateway/Poller.h"

#include <QByteArray>
#include <QHash>

#include <atomic>
#include <thread>
#include <unordered_map>

// The Modbus TCP server: one thread with epoll that answers every client
// from the snapshots, never waiting on the bus nor on a client. Each
// connection has its own buffers; a request is handled once its whole frame
// is there, an answer a client does not take waits in its buffer. A coil
// write goes to the polling thread; its client waits for the answer while
// the others are served.
class ModbusServer
{
public:
    ModbusServer(SnapshotStore &store, Poller &poller, const ServerLimits &limits = {});
    ~ModbusServer();
    ModbusServer(const ModbusServer &) = delete;
    ModbusServer &operator=(const ModbusServer &) = delete;

    // Listens; false with the reason.
    bool listen(const Endpoint &at, QString &error);
    quint16 port() const { return m_port; }
    void start();
    void stop();
    // From any thread: write results are waiting.
    void wake();

    // Requests answered since the start, for the metrics.
    std::atomic<quint64> requests{0};

    // A client whose answers not yet sent pass this is not reading them.
    static constexpr int MaxUnsent = 8192;

private:
    struct Client
    {
        int fd = -1;
        QByteArray peer; // its address, for the limit per address
        qint64 lastActive = 0;
        quint64 pendingWrite = 0; // 0 none
        ModbusRequest waiting;    // the write the polling thread carries out
        FrameAssembler in;
        QByteArray out;
        quint32 events = 0; // what epoll watches
    };

    void run();
    void acceptClients();
    void receive(Client &c);
    void handleRequests(Client &c);
    void flush(Client &c);
    void watch(Client &c);
    void close(int fd);
    void closeIdle(qint64 now);
    void finishWrites();
    void refused(const char *why);

    SnapshotStore &m_store;
    Poller &m_poller;
    ServerLimits m_limits;
    int m_listen = -1;
    int m_wake = -1;
    int m_epoll = -1;
    quint16 m_port = 0;
    quint64 m_nextWrite = 1;
    qint64 m_acceptPausedUntil = 0; // > 0: the listening socket is out of epoll until then
    qint64 m_lastRefusalLog = -1;
    int m_refusedSince = 0;
    std::unordered_map<int, Client> m_clients; // by descriptor
    QHash<QByteArray, int> m_perPeer;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

#endif
