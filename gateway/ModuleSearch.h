#ifndef RQ_GATEWAY_MODULESEARCH_H
#define RQ_GATEWAY_MODULESEARCH_H

#include "app/Dekl.h"
#include "gateway/GatewayConfig.h"
#include "scan/HledaniModulu.h"

#include <QList>

#include <deque>
#include <utility>

// What the search needs of whoever owns the bus (the poller). Called on the
// polling thread.
class SearchHost
{
public:
    virtual ~SearchHost() = default;
    virtual const GatewayConfig &config() const = 0;
    // The open adapter the probes go over.
    virtual const TData &bus() const = 0;
    // Whether a module polled at this address answers.
    virtual bool answers(quint8 address) const = 0;
    // Whether a poll is due now.
    virtual bool pollsWait(qint64 now) const = 0;
    // A probe set the adapter's rate and timeout: the next poll sets its own again.
    virtual void rateChanged() = 0;
};

// The search for modules the configuration leaves to it (search mode): one
// probe a turn, never more than half the bus while polls wait.
class ModuleSearch
{
public:
    explicit ModuleSearch(SearchHost &host) : m_host(host) {}

    // One probe when one is due; false when none was sent.
    bool step();
    // After a reload: the next turn looks for the missing modules again,
    // unless a search is under way.
    void again()
    {
        if (m_probes.empty())
            m_nextSearch = 1;
    }
    // No search before this monotonic time (a client changes a module's address or rate).
    void notBefore(qint64 at) { m_nextSearch = at; }
    bool hasFound() const { return !m_found.isEmpty(); }
    // Adds the modules found since the last call to the list (taken at the
    // top of the loop, never within a module's cycle).
    void addFoundTo(QList<GatewayModule> &modules);

private:
    void plan(bool all);
    void addFound(const ScanFinding &f);

    SearchHost &m_host;
    qint64 m_nextSearch = 0;
    // The search in progress: address and rate of the probes left.
    std::deque<std::pair<quint8, quint32>> m_probes;
    qint64 m_probeAfter = 0;    // a probe's own length before the next: the search takes at most half the bus
    QList<ScanFinding> m_found; // modules the search found, for the top of the loop
};

#endif
