#ifndef RQ_GATEWAY_MQTTCOMMAND_H
#define RQ_GATEWAY_MQTTCOMMAND_H

#include <QByteArray>
#include <QString>

#include <optional>

// Output commands that arrive over MQTT, as pure functions of their text:
// nothing here touches the broker or the bus.

// Which command a topic under the base topic names: rq/NAME/ADDRESS/dout/set
// (all 32 outputs) or rq/NAME/ADDRESS/dout/N/set (one output).
struct DoutTopic
{
    int address = 0; // bus address 0..255
    int output = -1; // 0..31, -1 for all
};
std::optional<DoutTopic> ParseDoutTopic(const QByteArray &base, const QByteArray &topic);
// The bus address of any topic the gateway's command subscriptions take
// (rq/NAME/ADDRESS/dout/set, rq/NAME/ADDRESS/dout/ANYTHING/set), so that a
// command ParseDoutTopic does not take still gets its answer.
std::optional<int> SetTopicAddress(const QByteArray &base, const QByteArray &topic);
// The result of a command on a set topic that names no output.
QString BadSetTopic(const QByteArray &topic, const QByteArray &allTopic);

// What a payload asks for: the outputs from first (count of them) set to
// values (from bit 0), or why not.
struct DoutCommand
{
    bool ok = false;
    QString error; // Czech, when not ok
    int first = 0;
    int count = 0;
    quint32 values = 0;
};
// All outputs: a decimal number or 0x hexadecimal, 0..0xFFFFFFFF. One
// output: ON/OFF/1/0 (case does not matter). Blanks around are allowed.
DoutCommand ParseDoutCommand(int output, const QByteArray &payload);

// What becomes of a message on a command topic. A retained command would be
// carried out again at every new subscription (the gateway's reconnection
// or restart), long after it was meant: refused, and deleted from the
// broker. An empty message is such a deletion, nothing to carry out.
enum class CommandFate { Carry, Ignore, RefuseRetained };
CommandFate FateOfCommand(bool retained, const QByteArray &payload);
// The result of a refused retained command on TOPIC.
QString RetainedRefusal(const QByteArray &topic);
// The result of a write refused while the outputs are not known.
QString OutputsUnknownRefusal(const QByteArray &allTopic);

#endif
