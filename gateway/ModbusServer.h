#ifndef RQ_GATEWAY_MODBUSSERVER_H
#define RQ_GATEWAY_MODBUSSERVER_H

#include "gateway/GatewayConfig.h"
#include "gateway/Poller.h"

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

typedef struct _modbus modbus_t;
typedef struct _modbus_mapping_t modbus_mapping_t;

// What the server does with one whole request frame q of len bytes (the
// TCP header of headerLength bytes included), as libmodbus received it, for
// the module m serves under its unit id (null: none).
struct RequestDecision
{
    std::optional<quint8> exception; // answered at once with this exception
    std::optional<CoilWrite> write;  // for the polling thread; answered when done
    // Neither: a read, which libmodbus answers from the map (FillMapping) or
    // refuses itself (a malformed quantity); a coil write never gets here.
};
RequestDecision DecideRequest(const quint8 *q, int len, int headerLength, const ModuleSnapshot *m,
                              bool allowWrites, qint64 nowMs, qint64 staleMs);
// The server's timeouts on a libmodbus context.
void ConfigureServerContext(modbus_t *ctx);
// The tables of the register map: coils, discrete inputs, input registers.
modbus_mapping_t *NewRegisterMapping();
// Fills the table a request of this function reads from the snapshot.
void FillMapping(modbus_mapping_t *map, const ModuleSnapshot &m, int function, qint64 nowMs);

// The Modbus TCP server: one thread that answers every client from the
// snapshots, never waiting on the bus. A coil write goes to the polling
// thread; its client waits for the answer while the others are served.
class ModbusServer
{
public:
    ModbusServer(SnapshotStore &store, Poller &poller);
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

    static constexpr int MaxClients = 2000;
    static constexpr int IdleCloseMs = 600000; // a client silent for 10 minutes is closed

private:
    struct Client
    {
        int fd = -1;
        qint64 lastActive = 0;
        quint64 pendingWrite = 0; // 0 none
        std::vector<quint8> query;
    };

    void run();
    void acceptClients();
    bool serve(Client &c); // false: close the client
    void finishWrites();

    SnapshotStore &m_store;
    Poller &m_poller;
    modbus_t *m_ctx = nullptr;
    modbus_mapping_t *m_map = nullptr;
    int m_listen = -1;
    int m_wake = -1;
    quint16 m_port = 0;
    quint64 m_nextWrite = 1;
    qint64 m_acceptPausedUntil = 0;
    std::vector<Client> m_clients;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

#endif
