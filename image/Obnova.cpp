#include "image/Obnova.h"

#include "app/Dekl.h"
#include "image/Obraz.h"

#include <algorithm>

QStringList RestoreRisks(const EepromBlock &block, qint64 fileSize, quint8 moduleAddress, quint32 baudRate,
                         const QString &identity)
{
    QStringList risks;
    const quint8 address = block[CfgAddr::Address];
    if (address != moduleAddress)
        risks << QStringLiteral("Adresa modulu: %1 → %2").arg(moduleAddress).arg(address);
    const int baud = BaudIndexOfRate(baudRate);
    const quint8 fileBaud = block[CfgAddr::BaudIndex];
    if (fileBaud != baud) {
        const QString after = fileBaud < BaudItems.size() ? BaudItems.at(fileBaud)
                                                          : QStringLiteral("neplatná hodnota %1").arg(fileBaud);
        risks << QStringLiteral("Komunikační rychlost: ") + BaudItems.at(baud) + QStringLiteral(" → ") + after;
    }
    if (const std::optional<ModuleModel> model = ModelOfIdentity(identity)) {
        QStringList inputs;
        for (int i = 0;; ++i) {
            const std::optional<ImageField> f = DecodeField(block, *model, QStringLiteral("ain%1").arg(i));
            if (!f)
                break;
            if (!f->valid)
                inputs << f->caption;
        }
        if (!inputs.isEmpty())
            risks << QStringLiteral("Soubor neodpovídá modelu ") + ModelName(*model) + QStringLiteral(" (") +
                         inputs.join(QStringLiteral(", ")) + QLatin1Char(')');
    }
    if (fileSize != EepromFileSize)
        risks << QStringLiteral("Soubor má %1 bajtů, ne %2.").arg(fileSize).arg(EepromFileSize);
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
