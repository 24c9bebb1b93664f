// restore: a .kee file into the module, only the bytes that differ, each
// verified by reading it back; refused where the module would no longer
// answer as it does today or the file does not fit it.
#include "cli/Kontext.h"
#include "image/Obnova.h"

namespace {
class Restore final : public Command
{
public:
    QString name() const override { return QStringLiteral("restore"); }
    QString synopsis() const override
    {
        return QStringLiteral("restore SOUBOR|- [--keep-address] [--dry-run] [--yes] [--all]");
    }
    QString summary() const override { return QStringLiteral("zapíše soubor do modulu (jen odlišné bajty)"); }
    QList<OptionSpec> options() const override
    {
        return {{QStringLiteral("keep-address"), {}, false},
                {QStringLiteral("dry-run"), {}, false},
                {QStringLiteral("yes"), {}, false},
                {QStringLiteral("all"), {}, false}};
    }
    int minArgs() const override { return 1; }
    int maxArgs() const override { return 1; }

    int execute(Context &c) const override
    {
        const QString path = c.args.positional.at(0);
        qint64 size = 0;
        const QByteArray bytes = c.readInput(path, EepromFileSize, &size);
        if (bytes.size() < EepromFileSize)
            c.fail(ExitCode::File,
                   QStringLiteral("Chyba načítání dat: soubor %1 má méně než 512 bajtů.").arg(path));
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
        const QStringList risks =
            RestoreRisks(image, size, path, c.data.moduleAddress, c.data.baudRate, c.data.identity);

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
            c.line(QStringLiteral("Zkouška nanečisto: zapsalo by se %1 bajtů, nic nezapsáno.")
                       .arg(changed.size()));
        }
        if (!risks.isEmpty() && !c.args.has(QStringLiteral("yes")))
            c.fail(ExitCode::Refused, refusal(risks, keep));
        if (dryRun)
            return ExitCode::Ok;
        QList<TransferStep> steps;
        const QList<TransferStep> every = EepromSteps(image);
        for (int i : changed)
            steps << every.at(i);
        c.writeSteps(steps, EepromProgress);
        c.result.insert(QStringLiteral("written"), steps.size());
        c.line(QStringLiteral("Konfigurace zapsána (%1 bajtů).").arg(steps.size()));
        return ExitCode::Ok;
    }

private:
    // The reasons themselves, and only the way out that would help.
    static QString refusal(const QStringList &risks, bool keep)
    {
        const bool moves = std::any_of(risks.cbegin(), risks.cend(), [](const QString &r) {
            return r.startsWith(QLatin1String("Adresa modulu")) ||
                   r.startsWith(QLatin1String("Komunikační rychlost"));
        });
        QStringList reasons;
        for (const QString &r : risks)
            reasons << (r.endsWith(QLatin1Char('.')) ? r.chopped(1) : r);
        QString text =
            QStringLiteral("Zápis odmítnut: %1. Nic nezapsáno; ").arg(reasons.join(QStringLiteral("; ")));
        if (moves && !keep)
            text += QStringLiteral("adresu a rychlost modulu zachová --keep-address, ");
        return text + QStringLiteral("zápis přesto provede volba --yes.");
    }
};
} // namespace

const Command &RestoreCommand()
{
    static const Restore command;
    return command;
}
