// restore: a .kee file into the module, only the bytes that differ, each
// verified by reading it back; refused where the module would no longer
// answer as it does today or the file does not fit it.
#include "cli/Kontext.h"
#include "core/Cislo.h"
#include "image/Obnova.h"

namespace {
class Restore final : public Command
{
public:
    QString name() const override { return QStringLiteral("restore"); }
    QString synopsis() const override
    {
        return QStringLiteral(
            "restore SOUBOR|- [--keep-address] [--dry-run] [--yes] [--all] [--model MODEL]");
    }
    QString summary() const override { return QStringLiteral("zapíše soubor do modulu (jen odlišné bajty)"); }
    QList<OptionSpec> options() const override
    {
        return {{QStringLiteral("keep-address"), {}, false},
                {QStringLiteral("dry-run"), {}, false},
                {QStringLiteral("yes"), {}, false},
                {QStringLiteral("all"), {}, false},
                {QStringLiteral("model"), {}, true}};
    }
    int minArgs() const override { return 1; }
    int maxArgs() const override { return 1; }

    int execute(Context &c) const override
    {
        const QString path = Context::dashName(c.args.positional.at(0));
        const std::optional<ModuleModel> given = c.modelOption();
        qint64 size = 0;
        const QByteArray bytes = c.readInput(path, EepromFileSize, &size);
        // Every wrong length is one refusal; a short file has nothing to
        // write even with --yes.
        if (bytes.size() < EepromFileSize)
            c.fail(ExitCode::Refused,
                   QStringLiteral("Zápis odmítnut: soubor %1 má %2, ne 512. Nic nezapsáno.")
                       .arg(path == QLatin1String("-") ? QStringLiteral("ze standardního vstupu") : path,
                            CzechCount(size, QStringLiteral("bajt"), QStringLiteral("bajty"),
                                       QStringLiteral("bajtů"))));
        EepromBlock image{};
        std::copy_n(reinterpret_cast<const quint8 *>(bytes.constData()), EepromFileSize, image.begin());

        c.connectModule();
        const bool all = c.args.has(QStringLiteral("all"));
        const bool keep = c.args.has(QStringLiteral("keep-address"));
        const bool dryRun = c.args.has(QStringLiteral("dry-run"));
        std::optional<EepromBlock> module;
        if (!all || dryRun || keep)
            module = c.readModule();
        if (keep) {
            image[CfgAddr::BaudIndex] = (*module)[CfgAddr::BaudIndex];
            image[CfgAddr::Address] = (*module)[CfgAddr::Address];
        }
        QStringList risks =
            RestoreRisks(image, size, path, c.data.moduleAddress, c.data.baudRate, c.data.identity);
        // The file's model from its name or --model; a file that tells none
        // is asked about as one of another model.
        const std::optional<ModuleModel> named = ModelOfBackupName(path);
        const std::optional<ModuleModel> connected = ModelOfIdentity(c.data.identity);
        if (named && given && *named != *given)
            c.fail(ExitCode::Usage, QStringLiteral("Soubor %1 je podle názvu záloha modelu %2, ne %3.")
                                        .arg(path, ModelName(*named), ModelName(*given)));
        if (!named && !given)
            risks << QStringLiteral(
                "Model souboru není známý (název zálohy rqtool ani --model jej neurčují)");
        else if (!named && connected && *given != *connected)
            risks << QStringLiteral("Soubor je podle --model zálohou modelu %1, připojen je %2")
                         .arg(ModelName(*given), ModelName(*connected));

        QList<int> changed;
        for (int i = 0; i < EepromFileSize; ++i)
            if (all || (*module)[std::size_t(i)] != image[std::size_t(i)])
                changed << i;
        c.result = {{QStringLiteral("file"), path},
                    {QStringLiteral("address"), c.data.moduleAddress},
                    {QStringLiteral("risks"), QJsonArray::fromStringList(risks)},
                    {QStringLiteral("bytes"), changed.size()},
                    {QStringLiteral("written"), 0}};
        for (const QString &r : risks)
            c.line(QStringLiteral("Riziko: ") + r);
        if (dryRun) {
            QJsonArray array;
            for (const FieldChange &ch : CompareImages(*module, image, c.modelOf(&image))) {
                c.line(ch.text());
                array.append(QJsonObject{{QStringLiteral("key"), ch.key},
                                         {QStringLiteral("before"), ch.before},
                                         {QStringLiteral("after"), ch.after}});
            }
            c.result.insert(QStringLiteral("changes"), array);
            c.line(QStringLiteral("Zkouška nanečisto: k zápisu %1, nic nezapsáno.")
                       .arg(CzechCount(changed.size(), QStringLiteral("bajt"), QStringLiteral("bajty"),
                                       QStringLiteral("bajtů"))));
        }
        if (!risks.isEmpty() && !c.args.has(QStringLiteral("yes")))
            c.fail(ExitCode::Refused, Context::refusal(risks, keep));
        if (dryRun)
            return ExitCode::Ok;
        QList<TransferStep> steps;
        const QList<TransferStep> every = EepromSteps(image);
        for (int i : changed)
            steps << every.at(i);
        c.writeSteps(steps, EepromProgress);
        c.line(QStringLiteral("Konfigurace zapsána (%1).")
                   .arg(CzechCount(steps.size(), QStringLiteral("bajt"), QStringLiteral("bajty"),
                                   QStringLiteral("bajtů"))));
        return ExitCode::Ok;
    }
};
} // namespace

const Command &RestoreCommand()
{
    static const Restore command;
    return command;
}
