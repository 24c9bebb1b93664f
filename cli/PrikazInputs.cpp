// inputs: the 32 digital inputs, as the module reports them (negation applied).
#include "cli/Kontext.h"
#include "cli/Spolecne.h"
#include "live/AnalogCycle.h"

namespace {
class Inputs final : public Command
{
public:
    QString name() const override { return QStringLiteral("inputs"); }
    QString synopsis() const override { return QStringLiteral("inputs"); }
    QString summary() const override { return QStringLiteral("stav 32 digitálních vstupů"); }
    int execute(Context &c) const override
    {
        c.connectModule();
        quint32 word = 0;
        if (const quint8 error = ReadDigitalInputs(c.data, c.data.moduleAddress, word); error != 0)
            c.fail(ExitCode::Comm, c.errorText(error));
        QString bits;
        for (int n = 0; n < 32; ++n)
            bits.append(word >> n & 1 ? QLatin1Char('1') : QLatin1Char('0'));
        c.line(QStringLiteral("%1  DIN0..DIN31: %2").arg(Hex32(word), bits));
        c.result = {{QStringLiteral("inputs"), qint64(word)}, {QStringLiteral("bits"), bits}};
        return ExitCode::Ok;
    }
};
} // namespace

const Command &InputsCommand()
{
    static const Inputs command;
    return command;
}
