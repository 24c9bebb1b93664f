// info: identity, address, rate and the decoded settings of a module.
#include "cli/Kontext.h"
#include "cli/Spolecne.h"

namespace {
class Info final : public Command
{
public:
    QString name() const override { return QStringLiteral("info"); }
    QString synopsis() const override { return QStringLiteral("info"); }
    QString summary() const override
    {
        return QStringLiteral("identita, adresa, rychlost a nastavení modulu");
    }
    int execute(Context &c) const override
    {
        c.connectModule();
        const EepromBlock block = c.readModule();
        const ModuleModel model = c.modelOf(&block);
        c.line(QStringLiteral("Modul: %1").arg(c.data.identity));
        c.line(QStringLiteral("Adresa: %1, rychlost: %2 Bd").arg(c.data.moduleAddress).arg(c.data.baudRate));
        QJsonObject fields;
        for (const ImageField &f : DecodeImage(block, model)) {
            c.line(QStringLiteral("%1 (%2): %3%4")
                       .arg(f.caption, f.key, f.text,
                            f.valid ? QString() : QStringLiteral("  [neplatné pro model]")));
            fields.insert(f.key, FieldJson(f));
        }
        c.result = {{QStringLiteral("identity"), c.data.identity},
                    {QStringLiteral("model"), ModelName(model)},
                    {QStringLiteral("firmware"), c.data.identity.mid(11).trimmed()},
                    {QStringLiteral("address"), c.data.moduleAddress},
                    {QStringLiteral("baud"), qint64(c.data.baudRate)},
                    {QStringLiteral("fields"), fields}};
        return ExitCode::Ok;
    }
};
} // namespace

const Command &InfoCommand()
{
    static const Info command;
    return command;
}
