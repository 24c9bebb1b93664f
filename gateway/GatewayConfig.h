#ifndef RQ_GATEWAY_GATEWAYCONFIG_H
#define RQ_GATEWAY_GATEWAYCONFIG_H

#include "comm/Spojeni.h"
#include "gateway/ClientNetwork.h"
#include "image/Zarizeni.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What one rqgw instance serves: one bus, its modules and the ways in. Read
// from a UTF-8 INI file (--config) or from rqtool's connection options on the
// command line; the command line overrides the file.

struct GatewayModule
{
    QString name;
    quint8 address = 0;
    quint32 baud = 0;       // 0: the bus's rate
    int unit = -1;          // Modbus unit id 1..247; -1: polled, not served
    quint32 intervalMs = 0; // 0: as fast as the bus allows
    bool found = true;      // false: searched for, not answering yet
    // The settings the plant file wants it to have (model=, ain0=, ...):
    // compared for drift, never written by the gateway.
    std::optional<ModuleModel> model;
    QList<PlantSetting> settings;
};

struct Endpoint
{
    QString host;
    quint16 port = 0;
    bool operator==(const Endpoint &) const = default;
};

// The Modbus TCP server's limits: no client may hold it or its descriptors.
struct ServerLimits
{
    int maxConnections = 256; // in all
    int maxPerAddress = 64;   // from one client address
    int idleTimeoutS = 60;    // a client without a request this long is closed; 0 never
};

struct GatewayConfig
{
    QString file; // empty: command line only
    QString name = QStringLiteral("rqgw");
    Endpoint modbus{QStringLiteral("127.0.0.1"), 1502};
    std::optional<Endpoint> converter;
    AdapterSettings adapter;
    quint32 baud = 9600; // the rate of modules that name none
    QList<GatewayModule> modules;
    // Command-line mode: modules are found by a search over these.
    QList<quint8> searchAddresses;
    QList<quint32> searchBauds;
    int retries = 2;
    quint32 offlineRetryMs = 5000;
    quint32 staleMs = 0; // 0: each module's own, DefaultStaleMs()
    bool allowWrites = false;
    bool lowWordFirst = false; // word-order=low-first: 32-bit values low word first
    // How often one module's settings are compared with the plant file; 0 never.
    quint32 driftIntervalMs = 120000;
    // The converter port: configuration memory writes through it, and the
    // clients it serves (empty: this machine only).
    bool converterWrites = false;
    QList<ClientNetwork> converterAllow;
    ServerLimits modbusLimits;
    bool nameSet = false; // name given: else the broker sees host and instance

    // MQTT: nothing without a broker.
    std::optional<Endpoint> mqtt;
    QString mqttUser;
    QString mqttPasswordFile; // its first line is the password
    QString mqttCafile;       // set: TLS, the broker's certificate checked against it
    quint32 mqttIntervalMs = 1000;
    bool haDiscovery = false;
    // Each value also on a plain retained topic of its own (rq/NAME/ADDRESS/ain/0).
    bool mqttValues = false;
    // Where the module topics the gateway left retained on the broker are
    // listed, to delete those of removed modules (also across restarts);
    // empty: $STATE_DIRECTORY/mqtt-topics-NAME, or no list without it.
    QString mqttTopicsFile;
    // ms between two reads of each module's range and thermometer bytes.
    quint32 unitsRereadMs = 120000;
    // Prometheus /metrics.
    std::optional<Endpoint> metrics;

    // The file's line of each [gateway] and [bus] key, for the checks that
    // weigh one key against another after the command line had its say.
    QHash<QString, int> keyLines;

    bool searchMode() const { return !searchAddresses.isEmpty(); }
};

// A fault in the configuration: where and why, in Czech.
struct ConfigError
{
    QString file;
    int line = 0; // 0: not tied to a line (the command line)
    QString key;
    QString reason;
    QString text() const;
};

// Parses the INI text into cfg (keeping what the text does not set).
std::optional<ConfigError> ParseGatewayIni(const QByteArray &text, const QString &file, GatewayConfig &cfg);
// Reads the file and parses it.
std::optional<ConfigError> LoadGatewayConfig(const QString &file, GatewayConfig &cfg);

// What the command line asks for beside the configuration.
struct GatewayCommand
{
    enum class Action { Run, CheckConfig, Help, Version };
    Action action = Action::Run;
    GatewayConfig config;
    QString logLevel = QStringLiteral("info");
};
// Parses the arguments (without the program name); the file named by
// --config or --check-config is read first, the options then override it.
std::optional<ConfigError> ParseGatewayArguments(const QStringList &args, GatewayCommand &command);

// A module's stale age when stale= is not set, from the configuration alone
// (never from the delays it is there to catch): 2 x max(its interval, the
// round) x 2 + retries x reply timeout, at least 2 s. The round is the sum
// over all modules of their cycle's wire time at their rates; one factor 2
// is the converter's share of the bus (its clients and the polls take
// turns), the other a value's age just before its next cycle ends.
qint64 DefaultStaleMs(const GatewayConfig &cfg, const GatewayModule &m);
// Transactions of one polling cycle: twelve inputs, the temperature, the
// digital inputs and the status register.
constexpr int CycleTransactions = 15;

// Modules a config serves with a unit id, and the faults the log names (a
// module without a unit id, two modules on one unit).
QStringList UnitWarnings(const GatewayConfig &cfg);

QString GatewayUsage();

// The name under rq/ on the broker: the configured name, else the host name
// and the instance (the configuration file's base name, or the Modbus
// port), so that two buses never share a base topic. Only letters, digits,
// '-' and '_' are kept.
QString MqttName(const GatewayConfig &cfg, const QString &hostName);
// The list of retained module topics (mqttTopicsFile or its default); empty: none.
QString MqttTopicsFile(const GatewayConfig &cfg, const QString &mqttName);
// The file the MQTT password comes from: --mqtt-password-file, else the
// service's credential "mqtt-password" where systemd passed one; empty: none.
QString MqttPasswordFile(const GatewayConfig &cfg);
// The password from that file; false with the reason.
bool ReadMqttPassword(const GatewayConfig &cfg, QString &password, QString &error);

// "HOST:PORT" (an IPv6 host in brackets); nothing when either part is bad.
std::optional<Endpoint> ParseEndpoint(const QString &text);

#endif
