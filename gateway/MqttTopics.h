#ifndef RQ_GATEWAY_MQTTTOPICS_H
#define RQ_GATEWAY_MQTTTOPICS_H

#include "gateway/GatewayState.h"

#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>

#include <optional>

// What the gateway says on the broker, as pure functions of what it knows:
// nothing here touches the broker or the bus.

// A JSON string of the text, and a number with the digits the module reports (null for none).
QByteArray JsonString(const QString &text);
void JsonNumber(QByteArray &out, float v, int decimals);

// Home Assistant's form of a name in entity ids: lower case ASCII letters
// and digits, accents dropped, '_' for anything else ("Hala 1" -> "hala_1").
QByteArray HaSlug(const QString &name);

// Home Assistant's discovery configurations of one module under base
// (rq/NAME), topic -> retained payload: a sensor for each input with a unit
// and for the temperature in degrees, a binary sensor for each digital
// input and, with writes allowed, a switch for each output. They carry
// device_class and state_class where Home Assistant has one for the unit.
QMap<QByteArray, QByteArray> DiscoveryConfigs(const ModuleSnapshot &m, const QByteArray &base,
                                              const QString &name, bool allowWrites);

// The plain value topics of one module (with mqtt-values=yes), leaf under
// rq/NAME/ADDRESS -> payload: ain/N and temperature as the state writes
// them (inputs without a unit have none), din/N, and dout/N while the
// outputs are known.
QMap<QByteArray, QByteArray> PlainValues(const ModuleSnapshot &m);

// Who a gateway is on the broker (rq/NAME/instance, retained): the host,
// the machine id and the instance (its configuration file, else its Modbus
// address) tell one gateway from another; pid and start time are for people.
struct GatewayInstance
{
    QString host;
    QString machine;
    QString instance;
    qint64 pid = 0;
    QString started;

    QByteArray json() const;
    static std::optional<GatewayInstance> fromJson(const QByteArray &payload);
    bool sameAs(const GatewayInstance &other) const
    {
        return machine == other.machine && instance == other.instance;
    }
};
// Whether a starting gateway (me) must give way: another instance's
// identity is on the broker and its status says it is online. Nothing when it
// may go on; the Czech reason (naming the other host) when not.
std::optional<QString> NameTaken(const GatewayInstance &me, const QByteArray &instancePayload,
                                 const QByteArray &status, const QString &name);

// The list of retained module topics kept between runs: one line each,
// "ADDRESS TOPIC". Unreadable lines are skipped.
QMap<int, QSet<QByteArray>> ParseTopicList(const QByteArray &text);
QByteArray TopicListText(const QMap<int, QSet<QByteArray>> &topics);

#endif
