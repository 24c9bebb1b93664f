#include "gateway/Metrics.h"

#include "diag/LinkStats.h"

#include <prometheus/client_metric.h>
#include <prometheus/exposer.h>
#include <prometheus/metric_family.h>
#include <prometheus/metric_type.h>

#include <cmath>
#include <string>

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;

Metrics::Metrics(const QString &bus, SnapshotStore &store, const std::atomic<quint64> *modbusRequests,
                 std::function<bool()> mqttConnected)
    : m_bus(bus.toStdString()), m_store(store), m_modbusRequests(modbusRequests),
      m_mqttConnected(std::move(mqttConnected))
{
}

Metrics::~Metrics() = default;

bool Metrics::listen(const Endpoint &at, QString &error)
{
    const QString host = at.host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(at.host) : at.host;
    try {
        // civetweb's defaults (two threads, 30 s to finish a request) let
        // two unfinished requests block every scrape for 30 s.
        m_exposer = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
            "listening_ports", QStringLiteral("%1:%2").arg(host).arg(at.port).toStdString(), "num_threads",
            std::to_string(MetricsThreads), "request_timeout_ms", std::to_string(MetricsRequestTimeoutMs)});
    } catch (const std::exception &e) {
        error = QStringLiteral("%1:%2 nelze otevřít: %3")
                    .arg(at.host)
                    .arg(at.port)
                    .arg(QString::fromLocal8Bit(e.what()));
        return false;
    }
    // The exposer holds a weak pointer; this object owns the strong one and outlives the exposer.
    m_self = std::shared_ptr<prometheus::Collectable>(this, [](prometheus::Collectable *) {});
    m_exposer->RegisterCollectable(m_self);
    const std::vector<int> ports = m_exposer->GetListeningPorts();
    m_port = ports.empty() ? at.port : static_cast<quint16>(ports.front());
    return true;
}

void Metrics::cycleComplete(const ModuleSnapshot &)
{
    const qint64 now = MonotonicMs();
    if (m_copiedMs >= 0 && now - m_copiedMs < 1000)
        return;
    m_copiedMs = now;
    copyLink();
}

void Metrics::moduleOffline(const ModuleSnapshot &)
{
    copyLink();
}

void Metrics::copyLink()
{
    const LinkStats &s = LinkStats::instance();
    Link l;
    l.transactions = s.transactions();
    l.totalUs = s.totalUs();
    for (const LinkErrorCount &e : s.errorCounts())
        l.errors.emplace_back(e.code, e.count);
    for (const LinkHistogramBin &b : s.histogram())
        l.buckets.emplace_back(b.toUs ? b.toUs / 1e6 : INFINITY, b.replies + b.errors);
    std::lock_guard lock(m_lock);
    m_link = std::move(l);
}

namespace {
MetricFamily family(const char *name, const char *help, MetricType type)
{
    MetricFamily f;
    f.name = name;
    f.help = help;
    f.type = type;
    return f;
}
ClientMetric metric(std::vector<ClientMetric::Label> labels, double value, MetricType type)
{
    ClientMetric m;
    m.label = std::move(labels);
    if (type == MetricType::Counter)
        m.counter.value = value;
    else
        m.gauge.value = value;
    return m;
}
// The value with the digits the module reports, not a float's tail.
double shown(float v, int decimals)
{
    const double scale = std::pow(10.0, std::clamp(decimals, 0, 6));
    return std::round(static_cast<double>(v) * scale) / scale;
}
const char *unitLabel(quint16 code)
{
    const char *symbol = UnitSymbol(code);
    return symbol ? symbol : "";
}
} // namespace

std::vector<MetricFamily> Metrics::Collect() const
{
    using L = std::vector<ClientMetric::Label>;
    const std::vector<SnapshotStore::Snapshot> modules = m_store.snapshots();
    const qint64 now = MonotonicMs();
    auto up = family("rq_module_up", "1 while the module answers its cycles", MetricType::Gauge);
    auto input =
        family("rq_input_value", "Analog input value in the unit its label names", MetricType::Gauge);
    auto temp = family("rq_temperature_celsius", "Internal temperature of the module", MetricType::Gauge);
    auto din = family("rq_digital_input", "Digital input level (0 or 1)", MetricType::Gauge);
    auto dout =
        family("rq_digital_output", "Digital output as the gateway knows it (0 or 1)", MetricType::Gauge);
    auto age = family("rq_cycle_age_seconds", "Time since the last complete cycle", MetricType::Gauge);
    auto cycles = family("rq_cycles_total", "Polling cycles by result", MetricType::Counter);
    auto drift = family("rq_config_drift", "1 while the module's settings differ from the configuration file",
                        MetricType::Gauge);
    for (const SnapshotStore::Snapshot &snapshot : modules) {
        const ModuleSnapshot &m = *snapshot;
        const std::string a = std::to_string(m.address);
        if (m.drift >= 0)
            drift.metric.push_back(metric(L{{"bus", m_bus}, {"address", a}}, m.drift, MetricType::Gauge));
        up.metric.push_back(metric(L{{"bus", m_bus}, {"address", a}, {"model", m.model.toStdString()}},
                                   m.online, MetricType::Gauge));
        cycles.metric.push_back(metric(L{{"bus", m_bus}, {"address", a}, {"result", "complete"}},
                                       m.completeCycles, MetricType::Counter));
        cycles.metric.push_back(metric(L{{"bus", m_bus}, {"address", a}, {"result", "failed"}},
                                       m.failedCycles, MetricType::Counter));
        if (m.lastCompleteMs < 0)
            continue; // nothing read yet: no values to show
        age.metric.push_back(
            metric(L{{"bus", m_bus}, {"address", a}}, (now - m.lastCompleteMs) / 1000.0, MetricType::Gauge));
        for (int i = 0; i < ModuleSnapshot::Inputs; ++i) {
            const auto k = static_cast<std::size_t>(i);
            if (m.ainUnit[k] && !std::isnan(m.ain[k]))
                input.metric.push_back(metric(L{{"bus", m_bus},
                                                {"address", a},
                                                {"input", std::to_string(i)},
                                                {"unit", unitLabel(m.ainUnit[k])}},
                                              shown(m.ain[k], m.ainDecimals[k]), MetricType::Gauge));
        }
        if (static_cast<UnitCode>(m.temperatureUnit) == UnitCode::Celsius && !std::isnan(m.temperature))
            temp.metric.push_back(metric(L{{"bus", m_bus}, {"address", a}},
                                         shown(m.temperature, m.temperatureDecimals), MetricType::Gauge));
        for (int i = 0; i < 32; ++i) {
            din.metric.push_back(metric(L{{"bus", m_bus}, {"address", a}, {"input", std::to_string(i)}},
                                        (m.din >> i) & 1, MetricType::Gauge));
            dout.metric.push_back(metric(L{{"bus", m_bus}, {"address", a}, {"output", std::to_string(i)}},
                                         (m.dout >> i) & 1, MetricType::Gauge));
        }
    }
    Link link;
    {
        std::lock_guard lock(m_lock);
        link = m_link;
    }
    auto tx = family("rq_transactions_total", "Module transactions on the bus", MetricType::Counter);
    tx.metric.push_back(
        metric(L{{"bus", m_bus}}, static_cast<double>(link.transactions), MetricType::Counter));
    auto errors = family("rq_transaction_errors_total", "Failed module transactions by error code",
                         MetricType::Counter);
    for (const auto &[code, count] : link.errors)
        errors.metric.push_back(metric(L{{"bus", m_bus}, {"code", std::to_string(code)}},
                                       static_cast<double>(count), MetricType::Counter));
    auto duration = family("rq_transaction_duration_seconds",
                           "Duration of module transactions, replies and errors", MetricType::Histogram);
    ClientMetric h;
    h.label = L{{"bus", m_bus}};
    quint64 cumulative = 0;
    for (const auto &[bound, count] : link.buckets) {
        cumulative += count;
        if (!std::isinf(bound))
            h.histogram.bucket.push_back({cumulative, bound});
    }
    h.histogram.bucket.push_back({link.transactions, INFINITY});
    h.histogram.sample_count = link.transactions;
    h.histogram.sample_sum = link.totalUs / 1e6;
    duration.metric.push_back(h);
    std::vector<MetricFamily> out{up, input, temp, din, dout, age, cycles, tx, errors, duration, drift};
    if (m_modbusRequests) {
        auto req = family("rq_modbus_requests_total", "Modbus TCP requests received", MetricType::Counter);
        req.metric.push_back(
            metric(L{{"bus", m_bus}}, static_cast<double>(m_modbusRequests->load()), MetricType::Counter));
        out.push_back(req);
    }
    auto mqtt = family("rq_mqtt_connected", "1 while connected to the MQTT broker", MetricType::Gauge);
    mqtt.metric.push_back(
        metric(L{{"bus", m_bus}}, m_mqttConnected && m_mqttConnected() ? 1 : 0, MetricType::Gauge));
    out.push_back(mqtt);
    return out;
}
