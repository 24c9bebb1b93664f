// get: named settings of the module, read byte by byte; --list the keys
// and the values each takes.
#include "cli/Kontext.h"
#include "cli/Pole.h"
#include "cli/Spolecne.h"

namespace {
class Get final : public Command
{
public:
    QString name() const override { return QStringLiteral("get"); }
    QString synopsis() const override { return QStringLiteral("get [POLE...] | get --list"); }
    QString summary() const override
    {
        return QStringLiteral("vypíše pojmenovaná nastavení (--list: pole a jejich hodnoty)");
    }
    QList<OptionSpec> options() const override { return {{QStringLiteral("list"), {}, false}}; }
    int maxArgs() const override { return -1; }

    int execute(Context &c) const override
    {
        if (c.args.has(QStringLiteral("list"))) {
            if (!c.args.positional.isEmpty())
                c.fail(ExitCode::Usage,
                       QStringLiteral("get --list vypíše všechna pole; jména polí („%1“) k ní "
                                      "nepatří.")
                           .arg(c.args.positional.join(QLatin1Char(' '))));
            return list(c);
        }
        c.connectModule();
        const ModuleModel model = c.modelOf(nullptr);
        QStringList keys = c.args.positional;
        if (keys.isEmpty()) {
            keys = FieldKeys(model);
            keys.removeAll(QStringLiteral("other"));
        }
        EepromBlock block{};
        c.readSteps(stepsAt(block, fieldOffsets(c, model, keys)));
        QJsonObject fields;
        for (const QString &key : keys) {
            const ImageField f = *DecodeField(block, model, key);
            c.line(QStringLiteral("%1=%2").arg(key, f.text));
            fields.insert(key, FieldJson(f));
        }
        c.result = {{QStringLiteral("model"), ModelName(model)}, {QStringLiteral("fields"), fields}};
        return ExitCode::Ok;
    }

    // Every key of every model with the values it takes; the module is not asked.
    static int list(Context &c)
    {
        QJsonObject models;
        for (ModuleModel model : AllModels) {
            c.line(QStringLiteral("%1:").arg(ModelName(model)));
            QJsonObject keys;
            for (const QString &key : FieldKeys(model)) {
                if (key == QLatin1String("other"))
                    continue;
                const QStringList choices = FieldChoices(model, key);
                c.line(QStringLiteral("  %1%2").arg(
                    key, choices.isEmpty() ? QString()
                                           : QStringLiteral(" = ") + choices.join(QStringLiteral(" | "))));
                keys.insert(key, QJsonArray::fromStringList(choices));
            }
            models.insert(ModelName(model), keys);
        }
        c.result = {{QStringLiteral("models"), models}};
        return ExitCode::Ok;
    }
};

} // namespace

const Command &GetCommand()
{
    static const Get command;
    return command;
}
