#ifndef RQ_GATEWAY_CONVERTERSERVER_H
#define RQ_GATEWAY_CONVERTERSERVER_H

#include "comm/Kxxx638.h"
#include "drivers/RqFrame.h"
#include "gateway/ClientNetwork.h"
#include "gateway/GatewayConfig.h"

#include <QList>
#include <QString>

struct DatagramVerdict;

// What the converter server needs of whoever owns the bus (the poller): the
// configuration in force and one transaction for a client, with the
// module's bookkeeping before and after it. Called on the polling thread.
class ConverterHost
{
public:
    virtual ~ConverterHost() = default;
    virtual const GatewayConfig &config() const = 0;
    virtual bool stopping() const = 0;
    // Readies the bus for the client's request at its rate; false when the
    // bus cannot take it now (the client times out as on the bus).
    virtual bool beforeClient(const rqframe::Request &request, quint32 baud) = 0;
    // The client's transaction, tried once; D0..D4 in, the reply out. The error code.
    virtual quint8 transactForClient(const rqframe::Request &request, ModuleBytes &d) = 0;
    // After a transaction the module answered without an error.
    virtual void afterClient(const rqframe::Request &request, quint32 baud, const ModuleBytes &reply) = 0;
};

// The LAN converter's UDP protocol on the gateway's own port: clients of
// the converter get their transactions between the poller's.
class ConverterServer
{
public:
    explicit ConverterServer(ConverterHost &host) : m_host(host) {}
    ~ConverterServer();
    ConverterServer(const ConverterServer &) = delete;
    ConverterServer &operator=(const ConverterServer &) = delete;

    // Binds the socket (when configured). False with the reason.
    bool open(QString &error);
    quint16 port() const { return m_port; }
    // The socket to wait on, -1 none.
    int socket() const { return m_udp; }
    // Serves datagrams until one took the bus (or most did); how many did.
    int serve(int most);

private:
    // Whether the datagram took the bus.
    bool handleDatagram(const quint8 *buf, int len, const void *from, unsigned fromLen);
    // Whether the converter serves this client (converter-allow, else this machine).
    bool clientAllowed(const void *from);
    void logRefusal(const DatagramVerdict &v, const void *from);

    ConverterHost &m_host;
    int m_udp = -1;
    quint16 m_port = 0;
    // When a refusal was last logged; this machine's own addresses.
    qint64 m_refusalLogAt = -1;
    qint64 m_localAt = -1;
    QList<ClientNetwork> m_local;
};

#endif
