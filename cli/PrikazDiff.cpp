// diff: two .kee files, or a file and the connected module, field by field.
#include "cli/Kontext.h"

namespace {
class Diff final : public Command
{
public:
    QString name() const override { return QStringLiteral("diff"); }
    QString synopsis() const override { return QStringLiteral("diff A B"); }
    QString summary() const override
    {
        return QStringLiteral("porovná dva soubory .kee, soubor a modul (module) nebo standardní vstup (-)");
    }
    int minArgs() const override { return 2; }
    int maxArgs() const override { return 2; }

    int execute(Context &c) const override
    {
        std::array<EepromBlock, 2> images{};
        std::optional<EepromBlock> module;
        for (int side = 0; side < 2; ++side) {
            const QString name = c.args.positional.at(side);
            if (name == QLatin1String("module")) {
                if (!module) {
                    c.connectModule();
                    module = c.readModule();
                }
                images[std::size_t(side)] = *module;
                continue;
            }
            const QByteArray bytes = c.readInput(name, EepromFileSize);
            if (bytes.size() < EepromFileSize)
                c.fail(ExitCode::File,
                       QStringLiteral("Chyba načítání dat ze souboru %1: má méně než 512 bajtů.").arg(name));
            std::copy_n(reinterpret_cast<const quint8 *>(bytes.constData()), EepromFileSize,
                        images[std::size_t(side)].begin());
        }
        ModuleModel model = c.modelOf(nullptr);
        if (!module) {
            // Two files: the model both fit, else the first one's.
            const QList<ModuleModel> a = ModelsFitting(images[0]), b = ModelsFitting(images[1]);
            const auto both =
                std::find_if(a.cbegin(), a.cend(), [&b](ModuleModel m) { return b.contains(m); });
            model = both != a.cend() ? *both : (a.isEmpty() ? ModuleModel::RQ3510 : a.first());
        }
        const QList<FieldChange> changes = CompareImages(images[0], images[1], model);
        QJsonArray array;
        for (const FieldChange &ch : changes) {
            c.line(ch.text());
            array.append(QJsonObject{{QStringLiteral("key"), ch.key},
                                     {QStringLiteral("caption"), ch.caption},
                                     {QStringLiteral("before"), ch.before},
                                     {QStringLiteral("after"), ch.after}});
        }
        if (changes.isEmpty())
            c.note(QStringLiteral("Konfigurace jsou shodné (model %1).").arg(ModelName(model)));
        c.result = {{QStringLiteral("model"), ModelName(model)},
                    {QStringLiteral("equal"), changes.isEmpty()},
                    {QStringLiteral("changes"), array}};
        return changes.isEmpty() ? ExitCode::Ok : ExitCode::Different;
    }
};
} // namespace

const Command &DiffCommand()
{
    static const Diff command;
    return command;
}
