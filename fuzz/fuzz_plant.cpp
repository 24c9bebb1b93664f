// Any bytes as a plant file: parsing never crashes and a fault names a line
// of the text; a file that parses holds only settings its modules' models
// take, which touch no byte of the bus address, the rate or the calibration;
// applying them twice changes nothing more than once; and a section filled
// in from any memory reads back as that memory (export, then plan: nothing
// to change).
#include "FuzzSupport.h"

#include "image/Zarizeni.h"

#include <QByteArray>
#include <QSet>

#include <cstddef>
#include <cstdint>

namespace {
constexpr qsizetype RoundTrips = 3;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    PlantFile plant;
    if (const auto error = ParsePlantFile(text, plant)) {
        FUZZ_CHECK(!error->reason.isEmpty());
        FUZZ_CHECK(error->line >= 0 && error->line <= text.count('\n') + 1);
        FUZZ_CHECK(plant.modules.isEmpty());
        return 0;
    }
    // A memory from the input's own bytes, so that every value turns up.
    EepromBlock memory{};
    for (qsizetype i = 0; i < text.size(); ++i)
        memory[static_cast<std::size_t>(i % EepromFileSize)] ^= static_cast<quint8>(text.at(i));

    QList<QStringList> fill;
    for (const PlantModule &m : plant.modules) {
        FUZZ_CHECK(m.line >= 1 && m.endLine >= m.line);
        FUZZ_CHECK(!CheckPlantSettings(m.model, m.settings));
        QSet<QString> keys;
        for (const PlantSetting &s : m.settings) {
            FUZZ_CHECK(IsPlantKey(s.key) && !keys.contains(s.key));
            keys.insert(s.key);
        }
        for (ModuleModel model : AllModels) {
            if (m.model && *m.model != model)
                continue;
            const QList<int> offsets = PlantOffsets(model, m.settings);
            for (int o : offsets)
                FUZZ_CHECK(o >= 0 && o < 62 && (o < 23 || o > 30));
            EepromBlock once = memory;
            if (!ApplyPlantSettings(once, model, m.settings)) {
                FUZZ_CHECK(!m.model); // the file's own model takes every value
                FUZZ_CHECK(once == memory);
                continue;
            }
            for (int o = 0; o < EepromFileSize; ++o)
                if (!offsets.contains(o))
                    FUZZ_CHECK(once[static_cast<std::size_t>(o)] == memory[static_cast<std::size_t>(o)]);
            EepromBlock twice = once;
            FUZZ_CHECK(ApplyPlantSettings(twice, model, m.settings));
            FUZZ_CHECK(twice == once && ChangedOffsets(once, twice, offsets).isEmpty());
        }
        // A few sections are exported in full; the others keep their own
        // lines, so that a file of a hundred sections stays quick to check.
        if (fill.size() < RoundTrips) {
            fill << PlantSettingLines(memory, m.model.value_or(ModuleModel::RQ3510));
            continue;
        }
        QStringList own;
        if (m.model)
            own << QStringLiteral("model=") + ModelName(*m.model);
        for (const PlantSetting &s : m.settings)
            own << s.key + QLatin1Char('=') + s.value;
        fill << own;
    }

    // Export over the file: it still parses, and plan would find nothing.
    const QByteArray filled = FillPlantFile(text, plant, fill);
    PlantFile again;
    const auto error = ParsePlantFile(filled, again);
    if (error)
        std::fprintf(stderr, "%s\n%s\n", qPrintable(error->text(QStringLiteral("filled"))),
                     filled.constData());
    FUZZ_CHECK(!error);
    FUZZ_CHECK(again.modules.size() == plant.modules.size());
    for (qsizetype k = 0; k < again.modules.size(); ++k) {
        const PlantModule &m = again.modules.at(k);
        if (k >= RoundTrips) {
            const PlantModule &was = plant.modules.at(k);
            FUZZ_CHECK(m.model == was.model && m.settings.size() == was.settings.size());
            for (qsizetype i = 0; i < m.settings.size(); ++i)
                FUZZ_CHECK(m.settings.at(i).key == was.settings.at(i).key &&
                           m.settings.at(i).value == was.settings.at(i).value);
            continue;
        }
        const ModuleModel model = plant.modules.at(k).model.value_or(ModuleModel::RQ3510);
        FUZZ_CHECK(m.name == plant.modules.at(k).name && m.address == plant.modules.at(k).address);
        FUZZ_CHECK(m.model == model);
        EepromBlock after = memory;
        FUZZ_CHECK(ApplyPlantSettings(after, model, m.settings));
        FUZZ_CHECK(after == memory);
    }
    return 0;
}
