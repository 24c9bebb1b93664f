#ifndef RQ_GATEWAY_METRICS_H
#define RQ_GATEWAY_METRICS_H

#include "gateway/GatewayConfig.h"
#include "gateway/Poller.h"

#include <prometheus/collectable.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace prometheus {
class Exposer;
}

// /metrics for Prometheus (prometheus-cpp's pull exposer): built from the
// snapshots when scraped, so polling costs nothing; the link counters,
// which only the polling thread may read, are copied at most once a second
// when a module completes or changes.
// Slow clients: up to MetricsThreads - 1 unfinished requests leave a scrape
// unhindered; each further MetricsThreads of them hold it at most
// MetricsRequestTimeoutMs.
constexpr int MetricsThreads = 8;
constexpr int MetricsRequestTimeoutMs = 5000;

class Metrics : public GatewayObserver, public prometheus::Collectable
{
public:
    // modbusRequests and mqttConnected may be null (that server is off).
    Metrics(const QString &bus, SnapshotStore &store, const std::atomic<quint64> *modbusRequests,
            std::function<bool()> mqttConnected);
    ~Metrics() override;

    bool listen(const Endpoint &at, QString &error);
    quint16 port() const { return m_port; }

    void cycleComplete(const ModuleSnapshot &m) override;
    void moduleOnline(const ModuleSnapshot &m) override { cycleComplete(m); }
    void moduleOffline(const ModuleSnapshot &m) override;

    std::vector<prometheus::MetricFamily> Collect() const override;

private:
    struct Link
    {
        quint64 transactions = 0;
        quint64 totalUs = 0;
        std::vector<std::pair<quint8, quint64>> errors;
        std::vector<std::pair<double, quint64>> buckets; // upper bound in s, count in that bin
    };
    void copyLink();

    std::string m_bus;
    SnapshotStore &m_store;
    const std::atomic<quint64> *m_modbusRequests;
    std::function<bool()> m_mqttConnected;
    std::shared_ptr<prometheus::Collectable> m_self;
    std::unique_ptr<prometheus::Exposer> m_exposer;
    quint16 m_port = 0;
    qint64 m_copiedMs = -1;
    mutable std::mutex m_lock;
    Link m_link;
};

#endif
