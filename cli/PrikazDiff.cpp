// diff: two .kee files, or a file and the connected module, field by field
// where the model of both is known and the same, else byte by byte.
#include "cli/Kontext.h"
#include "image/Obnova.h"

namespace {
class Diff final : public Command
{
public:
    QString name() const override { return QStringLiteral("diff"); }
    QString synopsis() const override { return QStringLiteral("diff A B [--model MODEL]"); }
    QString summary() const override
    {
        return QStringLiteral("porovná dva soubory .kee, soubor a modul (module) nebo standardní vstup (-)");
    }
    QList<OptionSpec> options() const override { return {{QStringLiteral("model"), {}, true}}; }
    int minArgs() const override { return 2; }
    int maxArgs() const override { return 2; }

    int execute(Context &c) const override
    {
        const QString names[2] = {Context::dashName(c.args.positional.at(0)),
                                  Context::dashName(c.args.positional.at(1))};
        if (names[0] == QLatin1String("-") && names[1] == QLatin1String("-"))
            c.fail(ExitCode::Usage, QStringLiteral("Standardní vstup lze porovnat jen s jedním souborem."));
        const std::optional<ModuleModel> given = c.modelOption();
        std::array<EepromBlock, 2> images{};
        // The .kee file is 512 raw bytes: its model comes from rqtool's file
        // name, from --model, or from the module it was read from.
        std::array<std::optional<ModuleModel>, 2> models;
        std::optional<EepromBlock> module;
        for (int side = 0; side < 2; ++side) {
            const QString &name = names[side];
            if (name == QLatin1String("module")) {
                if (!module) {
                    c.connectModule();
                    module = c.readModule();
                }
                images[std::size_t(side)] = *module;
                models[std::size_t(side)] = ModelOfIdentity(c.data.identity);
                continue;
            }
            const QByteArray bytes = c.readInput(name, EepromFileSize);
            if (bytes.size() < EepromFileSize)
                c.fail(ExitCode::File,
                       QStringLiteral("Chyba načítání dat ze souboru %1: má méně než 512 bajtů.").arg(name));
            std::copy_n(reinterpret_cast<const quint8 *>(bytes.constData()), EepromFileSize,
                        images[std::size_t(side)].begin());
            const std::optional<ModuleModel> named = ModelOfBackupName(name);
            if (named && given && *named != *given)
                c.fail(ExitCode::Usage, QStringLiteral("Soubor %1 je podle názvu záloha modelu %2, ne %3.")
                                            .arg(name, ModelName(*named), ModelName(*given)));
            models[std::size_t(side)] = named ? named : given;
        }
        // One side's model stands for the other where that one says none.
        if (!models[0])
            models[0] = models[1];
        if (!models[1])
            models[1] = models[0];
        if (models[0] && *models[0] != *models[1])
            return byBytes(c, images,
                           QStringLiteral("Porovnává se model %1 s modelem %2: pole různých modelů "
                                          "se neporovnávají, rozdíly jsou po bajtech.")
                               .arg(ModelName(*models[0]), ModelName(*models[1])));
        if (!models[0])
            return byBytes(c, images,
                           QStringLiteral("Model souborů není známý (určí jej název zálohy rqtool, "
                                          "--model nebo modul), proto se pole nepojmenují: rozdíly "
                                          "jsou po bajtech."));
        const ModuleModel model = *models[0];
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

private:
    // Without one model for both: the bytes that differ, by offset.
    static int byBytes(Context &c, const std::array<EepromBlock, 2> &images, const QString &why)
    {
        c.note(why);
        QJsonArray array;
        for (int i = 0; i < EepromFileSize; ++i) {
            const quint8 a = images[0][std::size_t(i)], b = images[1][std::size_t(i)];
            if (a == b)
                continue;
            c.line(QStringLiteral("bajt %1: 0x%2 → 0x%3")
                       .arg(i)
                       .arg(a, 2, 16, QLatin1Char('0'))
                       .arg(b, 2, 16, QLatin1Char('0')));
            array.append(QJsonObject{
                {QStringLiteral("offset"), i}, {QStringLiteral("before"), a}, {QStringLiteral("after"), b}});
        }
        if (array.isEmpty())
            c.note(QStringLiteral("Soubory jsou shodné bajt po bajtu."));
        c.result = {{QStringLiteral("model"), QJsonValue::Null},
                    {QStringLiteral("reason"), why},
                    {QStringLiteral("equal"), array.isEmpty()},
                    {QStringLiteral("changes"), array}};
        return array.isEmpty() ? ExitCode::Ok : ExitCode::Different;
    }
};
} // namespace

const Command &DiffCommand()
{
    static const Diff command;
    return command;
}
