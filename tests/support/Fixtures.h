#ifndef RQ_TESTS_FIXTURES_H
#define RQ_TESTS_FIXTURES_H

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "support/TestAdapter.h"

// Resets the recording test adapter and the record, then connects the record
// through it (LAN converter kind). False when the adapter did not open.
inline bool ConnectThroughTestAdapter(TData &data, quint8 moduleAddress)
{
    TestAdapter::instance().reset();
    SetDefaults(&data);
    data.adapterKind = 4;
    data.moduleAddress = moduleAddress;
    if (OpenAdapter(4, &data.handle, InitBlock{}) != 0)
        return false;
    data.connected = true;
    return true;
}

// A record connected through the recording test adapter (LAN converter kind),
// as every dialog test needs it:
//
//   TestConnection link;          // in the test class
//   void init() { link.open(3); } // module address 3; the adapter is reset
//   void cleanup() { link.close(); }
//   ... d.Data = &link.data; link.ta.sends() ...
struct TestConnection
{
    TestAdapter &ta = TestAdapter::instance();
    TData data;

    // Resets the adapter and the record, then connects; the calls of the
    // connection itself are forgotten. False when the adapter did not open.
    bool open(quint8 moduleAddress = 1)
    {
        if (!ConnectThroughTestAdapter(data, moduleAddress))
            return false;
        ta.calls.clear();
        return true;
    }
    void close()
    {
        CloseAdapter(4, &data.handle);
        data.connected = false;
    }
};

#endif
