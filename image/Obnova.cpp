#include "image/Obnova.h"

#include "app/Dekl.h"
#include "image/Obraz.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

std::optional<ModuleModel> ModelOfBackupName(const QString &fileName)
{
    static const QRegularExpression name(QStringLiteral("^(RQ-\\d{4})_a\\d+_"),
                                         QRegularExpression::CaseInsensitiveOption);
    // The name after the last separator, as QFileInfo::fileName() gives it,
    // without a file information object for every restore check.
    qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    slash = std::max(slash, fileName.lastIndexOf(QLatin1Char('\\')));
#endif
    const QRegularExpressionMatch m = name.match(QStringView(fileName).mid(slash + 1));
    return m.hasMatch() ? ModelOfIdentity(m.captured(1)) : std::nullopt;
}

QList<ModuleModel> ModelsFittingBetter(const EepromBlock &block, ModuleModel connected)
{
    const int own = InputsFitting(block, connected);
    int best = own;
    QList<ModuleModel> better;
    for (ModuleModel m : AllModels) {
        const int fit = InputsFitting(block, m);
        if (m == connected || fit <= own || fit < best)
            continue;
        if (fit > best)
            better.clear();
        best = fit;
        better.append(m);
    }
    return better;
}

QStringList RestoreRisks(const EepromBlock &block, qint64 fileSize, const QString &fileName,
                         quint8 moduleAddress, quint32 baudRate, const QString &identity)
{
    QStringList risks;
    const quint8 address = block[CfgAddr::Address];
    if (address != moduleAddress)
        risks << QStringLiteral("Adresa modulu: %1 → %2").arg(moduleAddress).arg(address);
    const int baud = BaudIndexOfRate(baudRate);
    const quint8 fileBaud = block[CfgAddr::BaudIndex];
    if (fileBaud != baud) {
        const QString after = fileBaud < BaudItems.size()
                                  ? BaudItems.at(fileBaud)
                                  : QStringLiteral("neplatná hodnota %1").arg(fileBaud);
        risks << QStringLiteral("Komunikační rychlost: ") + BaudItems.at(baud) + QStringLiteral(" → ") +
                     after;
    }
    if (const std::optional<ModuleModel> model = ModelOfIdentity(identity)) {
        const QStringList inputs = InvalidInputs(block, *model);
        if (!inputs.isEmpty())
            risks << QStringLiteral("Soubor neodpovídá modelu ") + ModelName(*model) + QStringLiteral(" (") +
                         inputs.join(QStringLiteral(", ")) + QLatin1Char(')');
        // Every byte of one model's backup may be valid for another (an
        // RQ-3510's ranges read as RQ-3530 sensors): the name and the content
        // say more.
        const std::optional<ModuleModel> named = ModelOfBackupName(fileName);
        if (named && *named != *model)
            risks << QStringLiteral("Název souboru patří modelu %1 (%2), připojen je %3")
                         .arg(ModelName(*named), QFileInfo(fileName).fileName(), ModelName(*model));
        // Only where no byte gave the file away already.
        const QList<ModuleModel> better =
            inputs.isEmpty() ? ModelsFittingBetter(block, *model) : QList<ModuleModel>();
        if (!better.isEmpty() && !(named && better.contains(*named))) {
            QStringList names;
            for (ModuleModel m : better)
                names << ModelName(m);
            risks << QStringLiteral(
                         "Obsah souboru odpovídá spíš modelu %1 než připojenému %2 (platná nastavení "
                         "vstupů: %3 proti %4)")
                         .arg(names.join(QStringLiteral(" nebo ")), ModelName(*model))
                         .arg(InputsFitting(block, better.first()))
                         .arg(InputsFitting(block, *model));
        }
    }
    if (fileSize != EepromFileSize)
        risks << QStringLiteral("Soubor má %1, ne %2.")
                     .arg(CzechCount(fileSize, QStringLiteral("bajt"), QStringLiteral("bajty"),
                                     QStringLiteral("bajtů")))
                     .arg(EepromFileSize);
    return risks;
}

QString RestoreQuestion(const QStringList &risks)
{
    QString text = QStringLiteral("Zápis souboru do modulu:\n\n");
    for (const QString &r : risks)
        text += QStringLiteral("• ") + r + QLatin1Char('\n');
    const bool moves = std::any_of(risks.cbegin(), risks.cend(), [](const QString &r) {
        return r.startsWith(QStringLiteral("Adresa")) || r.startsWith(QStringLiteral("Komunikační"));
    });
    if (moves)
        text += QStringLiteral("\nPo příštím zapnutí modul přestane odpovídat na dnešní adrese a rychlosti.");
    return text + QStringLiteral("\nZapsat soubor přesto?");
}
