// outputs: sets the 32 digital outputs. The module cannot report them (the
// output command answers nothing and no command reads them), so this only
// ever writes.
#include "cli/Kontext.h"
#include "cli/Spolecne.h"
#include "comm/Prikazy.h"

namespace {

// 0x or $ before hexadecimal digits, otherwise decimal: "255" is 0xFF.
std::optional<quint32> parseWord(const QString &typed)
{
    QString text = typed.trimmed();
    int base = 10;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        text = text.mid(2);
        base = 16;
    } else if (text.startsWith(QLatin1Char('$'))) {
        text = text.mid(1);
        base = 16;
    }
    bool ok = false;
    const qulonglong v =
        text.isEmpty() || text.startsWith(QLatin1Char('+')) || text.startsWith(QLatin1Char('-'))
            ? 0
            : text.toULongLong(&ok, base);
    if (!ok || v > 0xFFFFFFFFull)
        return std::nullopt;
    return quint32(v);
}

class Outputs final : public Command
{
public:
    QString name() const override { return QStringLiteral("outputs"); }
    QString synopsis() const override { return QStringLiteral("outputs STAV"); }
    QString summary() const override
    {
        return QStringLiteral(
            "nastaví 32 digitálních výstupů (0x… šestnáctkově, jinak desítkově; bit 0 = DOUT0)");
    }
    int minArgs() const override { return 1; }
    int maxArgs() const override { return 1; }
    int execute(Context &c) const override
    {
        const std::optional<quint32> word = parseWord(c.args.positional.at(0));
        if (!word)
            c.fail(ExitCode::Usage,
                   QStringLiteral("Neplatný stav výstupů „%1“ (0x0000FF01 šestnáctkově, 255 desítkově, "
                                  "0 až 4294967295).")
                       .arg(c.args.positional.at(0)));
        c.connectModule();
        ModuleBytes bytes{0, quint8(*word), quint8(*word >> 8), quint8(*word >> 16), quint8(*word >> 24)};
        c.transact(CmdWriteOutputs, SubDigitalInputs, bytes);
        c.line(QStringLiteral("Výstupy nastaveny: %1").arg(Hex32(*word)));
        c.result = {{QStringLiteral("outputs"), qint64(*word)}};
        return ExitCode::Ok;
    }
};
} // namespace

const Command &OutputsCommand()
{
    static const Outputs command;
    return command;
}
