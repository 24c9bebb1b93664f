#ifndef RQ_TESTS_LIVE_SIMCONNECTION_H
#define RQ_TESTS_LIVE_SIMCONNECTION_H

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "support/SimProcess.h"

// A record connected to rqsim through the LAN converter library, the way the
// connection setup leaves it: adapter opened and configured, module address set.
inline QString ConnectToSim(TData &data, const SimProcess &sim, quint8 address, quint32 timeoutMs = 200)
{
    SetDefaults(&data);
    data.adapterKind = 4;
    data.ipAddress8bit = QByteArrayLiteral("127.0.0.1");
    data.initBlock.fill(0);
    data.initBlock[0] = reinterpret_cast<std::uintptr_t>(data.ipAddress8bit.constData());
    data.initBlock[1] = sim.udpPort();
    data.initBlock[2] = timeoutMs;
    if (const quint32 e = OpenAdapter(4, &data.handle, data.initBlock))
        return QStringLiteral("Init: ") + ErrorText(4, e);
    if (const quint32 e = ConfigureAdapter(4, data.handle, 9600, timeoutMs, 2))
        return QStringLiteral("SetConfig: ") + ErrorText(4, e);
    data.connected = true;
    data.moduleAddress = address;
    return {};
}

inline void DisconnectFromSim(TData &data)
{
    if (data.handle != 0)
        CloseAdapter(data.adapterKind, &data.handle);
    data.handle = 0;
    data.connected = false;
}

#endif
