#include "Driver.h"
#include "PortMap.h"

#include <chrono>
#include <cstdlib>
#include <map>
#include <mutex>

namespace rqdrv {

namespace {

// Enough for any tool; a bound keeps a leaking caller from exhausting descriptors.
constexpr std::size_t kMaxConnections = 64;

struct Connection
{
    std::mutex mutex; // one transaction at a time per connection
    std::unique_ptr<Transport> transport;
    std::uint32_t baud = kDefaultBaud;
    std::uint32_t timeoutMs = kDefaultTimeoutMs;
    std::uint32_t third = 0;
};

struct Table
{
    std::mutex mutex;
    std::map<std::uint32_t, std::shared_ptr<Connection>> connections;
    // Counting starts somewhere new each time the library is loaded, so a
    // handle kept across an unload and a new load is not mistaken for a new one.
    std::uint32_t lastHandle =
        static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) & 0x7FFFFF00u;
};

Table &table()
{
    static Table t;
    return t;
}

void (*g_afterLookup)() = nullptr;

std::shared_ptr<Connection> find(std::uint32_t handle)
{
    std::shared_ptr<Connection> connection;
    {
        Table &t = table();
        std::lock_guard lock(t.mutex);
        const auto it = t.connections.find(handle);
        if (it != t.connections.end())
            connection = it->second;
    }
    if (connection && g_afterLookup)
        g_afterLookup();
    return connection;
}

} // namespace

std::uint32_t addConnection(std::unique_ptr<Transport> transport, std::uint32_t *handle)
{
    Table &t = table();
    std::lock_guard lock(t.mutex);
    if (t.connections.size() >= kMaxConnections)
        return TooManyConnections;
    auto connection = std::make_shared<Connection>();
    connection->transport = std::move(transport);
    do {
        ++t.lastHandle; // wraps after 4 billion opens; 0 and live handles are skipped
    } while (t.lastHandle == 0 || t.connections.count(t.lastHandle) != 0);
    t.connections.emplace(t.lastHandle, std::move(connection));
    *handle = t.lastHandle;
    return Ok;
}

std::uint32_t setConfig(std::uint32_t handle, std::uint32_t baud, std::uint32_t timeoutMs,
                        std::uint32_t third)
{
    const auto connection = find(handle);
    if (!connection)
        return BadHandle;
    std::lock_guard lock(connection->mutex);
    // Done on another thread may have ended the connection since the lookup.
    if (!connection->transport)
        return BadHandle;
    const std::uint32_t timeout = timeoutMs == 0 ? kDefaultTimeoutMs : timeoutMs;
    const std::uint32_t result = connection->transport->configure(baud, timeout);
    if (result == Ok) {
        connection->baud = baud;
        connection->timeoutMs = timeout;
        connection->third = third;
    }
    return result;
}

std::uint32_t getConfig(std::uint32_t handle, std::uint32_t *baud, std::uint32_t *timeoutMs,
                        std::uint32_t *third)
{
    const auto connection = find(handle);
    if (!connection)
        return BadHandle;
    std::lock_guard lock(connection->mutex);
    if (!connection->transport)
        return BadHandle;
    if (baud)
        *baud = connection->baud;
    if (timeoutMs)
        *timeoutMs = connection->timeoutMs;
    if (third)
        *third = connection->third;
    return Ok;
}

std::uint32_t send(std::uint32_t handle, std::uint32_t *request, std::uint32_t *response,
                   std::uint32_t *status, std::uint32_t *error)
{
    std::uint32_t result = Ok;
    rqframe::Reply reply;
    const auto connection = find(handle);
    if (!connection) {
        result = BadHandle;
    } else if (!request || !response || !status) {
        result = BadArgument;
    } else {
        for (int i = 0; i < 8; ++i)
            if (request[i] > 0xFF)
                result = BadRequest;
        if (result == Ok) {
            rqframe::Request frame;
            frame.address = static_cast<std::uint8_t>(request[0]);
            frame.command = static_cast<std::uint8_t>(request[1]);
            frame.subcode = static_cast<std::uint8_t>(request[2]);
            for (std::size_t i = 0; i < 5; ++i)
                frame.d[i] = static_cast<std::uint8_t>(request[3 + i]);
            std::lock_guard lock(connection->mutex);
            if (!connection->transport)
                result = BadHandle; // ended by Done on another thread since the lookup
            else
                result = connection->transport->transact(frame, reply);
            if (result == Ok && reply.error != rqframe::ModuleOk)
                result = moduleErrorCode(reply.error);
        }
    }
    if (response)
        for (std::size_t i = 0; i < 4; ++i)
            response[i] = result == Ok ? reply.d[i + 1] : 0;
    if (status)
        *status = result == Ok ? reply.d[0] : 0;
    if (error)
        *error = result;
    return result;
}

std::uint32_t done(std::uint32_t *handle)
{
    if (!handle)
        return BadArgument;
    std::shared_ptr<Connection> connection;
    {
        Table &t = table();
        std::lock_guard lock(t.mutex);
        const auto it = t.connections.find(*handle);
        if (it == t.connections.end())
            return BadHandle;
        connection = std::move(it->second);
        t.connections.erase(it);
    }
    *handle = 0;
    // A transaction still running on another thread finishes first; the
    // transport closes when the last reference goes.
    std::lock_guard lock(connection->mutex);
    connection->transport.reset();
    return Ok;
}

void setAfterLookupHook(void (*hook)())
{
    g_afterLookup = hook;
}

std::string comPortPath(std::uint32_t port)
{
    return rqports::comDevice(port);
}

std::string usbPath()
{
    return rqports::usbDevice();
}

} // namespace rqdrv
