#include "gateway/ClientNetwork.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {
std::array<quint8, 16> mapped(const in_addr &a)
{
    std::array<quint8, 16> out{};
    out[10] = out[11] = 0xFF;
    std::memcpy(out.data() + 12, &a, 4);
    return out;
}

std::optional<std::array<quint8, 16>> addressOf(const sockaddr *sa)
{
    if (!sa)
        return std::nullopt;
    if (sa->sa_family == AF_INET)
        return mapped(reinterpret_cast<const sockaddr_in *>(sa)->sin_addr);
    if (sa->sa_family == AF_INET6) {
        std::array<quint8, 16> out{};
        std::memcpy(out.data(), &reinterpret_cast<const sockaddr_in6 *>(sa)->sin6_addr, 16);
        return out;
    }
    return std::nullopt;
}
} // namespace

std::optional<ClientNetwork> ParseClientNetwork(const QString &text)
{
    const QString t = text.trimmed();
    const qsizetype slash = t.indexOf(QLatin1Char('/'));
    const QByteArray host = (slash < 0 ? t : t.left(slash)).toLatin1();
    ClientNetwork n;
    in_addr v4{};
    in6_addr v6{};
    int most = 128;
    if (inet_pton(AF_INET, host.constData(), &v4) == 1) {
        n.address = mapped(v4);
        most = 32;
    } else if (inet_pton(AF_INET6, host.constData(), &v6) == 1) {
        std::memcpy(n.address.data(), &v6, 16);
    } else {
        return std::nullopt;
    }
    int prefix = most;
    if (slash >= 0) {
        bool ok = false;
        const QString bits = t.mid(slash + 1);
        prefix = bits.toInt(&ok);
        if (!ok || bits.isEmpty() || !bits.at(0).isDigit() || prefix < 0 || prefix > most)
            return std::nullopt;
    }
    n.prefix = most == 32 ? 96 + prefix : prefix;
    // Host bits are ignored: 10.1.2.7/24 is 10.1.2.0/24.
    for (int bit = n.prefix; bit < 128; ++bit)
        n.address[static_cast<std::size_t>(bit / 8)] &= static_cast<quint8>(~(0x80 >> (bit % 8)));
    return n;
}

std::optional<QList<ClientNetwork>> ParseClientNetworks(const QString &text, QString *why)
{
    QList<ClientNetwork> out;
    QString t = text;
    t.replace(QLatin1Char(','), QLatin1Char(' '));
    for (const QString &part : t.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const auto n = ParseClientNetwork(part);
        if (!n) {
            if (why)
                *why = QStringLiteral("%1 není adresa ani síť (například 10.1.2.0/24)").arg(part);
            return std::nullopt;
        }
        out << *n;
    }
    if (out.isEmpty()) {
        if (why)
            *why = QStringLiteral("prázdný seznam adres");
        return std::nullopt;
    }
    return out;
}

bool ClientAllowed(const QList<ClientNetwork> &networks, const sockaddr *from)
{
    const auto a = addressOf(from);
    if (!a)
        return false;
    for (const ClientNetwork &n : networks) {
        bool match = true;
        for (int bit = 0; bit < n.prefix && match; ++bit) {
            const auto k = static_cast<std::size_t>(bit / 8);
            const quint8 mask = static_cast<quint8>(0x80 >> (bit % 8));
            match = ((*a)[k] & mask) == (n.address[k] & mask);
        }
        if (match)
            return true;
    }
    return false;
}

QList<ClientNetwork> ThisMachine()
{
    QList<ClientNetwork> out = {*ParseClientNetwork(QStringLiteral("127.0.0.0/8")),
                                *ParseClientNetwork(QStringLiteral("::1"))};
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    for (ifaddrs *i = list; i; i = i->ifa_next)
        if (const auto a = addressOf(i->ifa_addr))
            out << ClientNetwork{*a, 128};
    freeifaddrs(list);
    return out;
}

quint16 BoundPort(int fd)
{
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&bound), &len) != 0)
        return 0;
    return ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port
                                             : reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
}
