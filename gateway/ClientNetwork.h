#ifndef RQ_GATEWAY_CLIENTNETWORK_H
#define RQ_GATEWAY_CLIENTNETWORK_H

#include <QList>
#include <QString>

#include <array>
#include <optional>

struct sockaddr;

// A network of client addresses the converter port serves ("10.1.2.0/24",
// "192.168.1.5", "fd00::/8"). IPv4 is kept as an IPv4-mapped IPv6 address,
// so one comparison covers a dual-stack socket's sources too.
struct ClientNetwork
{
    std::array<quint8, 16> address{};
    int prefix = 128; // bits that must match
    bool operator==(const ClientNetwork &) const = default;
};

// One network, or nothing when the text is none.
std::optional<ClientNetwork> ParseClientNetwork(const QString &text);
// A list separated by commas or blanks; nothing (and why) at the first bad entry or when empty.
std::optional<QList<ClientNetwork>> ParseClientNetworks(const QString &text, QString *why);
// Whether the source address of a datagram (AF_INET or AF_INET6) lies in one of the networks.
bool ClientAllowed(const QList<ClientNetwork> &networks, const sockaddr *from);
// This machine: the loopback networks and every address of its interfaces.
QList<ClientNetwork> ThisMachine();

// The local port a bound socket got (port 0 asks the system for one).
quint16 BoundPort(int fd);

#endif
