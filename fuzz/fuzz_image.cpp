// Any bytes as a configuration image, decoded as one model a run (chosen by
// a byte after the image, or by the size of a shorter input): decoding never
// crashes, every field's offsets lie inside the image, a compare with
// itself finds nothing, and a field encoded from its own text decodes back
// to the same value. The risk check of a restore takes any image and size.
#include "FuzzSupport.h"

#include "image/Obnova.h"
#include "image/Obraz.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    EepromBlock block{};
    std::copy_n(data, std::min<std::size_t>(size, block.size()), block.begin());
    // One model a run: all of them would make each run several times slower,
    // and the fuzzer reaches every model through that byte anyway.
    const std::size_t models = std::size(AllModels);
    {
        const ModuleModel model = AllModels[(size > 513 ? data[513] : size) % models];
        const QList<ImageField> fields = DecodeImage(block, model);
        FUZZ_CHECK(!fields.isEmpty());
        for (const ImageField &f : fields)
            for (int o : f.offsets)
                FUZZ_CHECK(o >= 0 && o < EepromFileSize);
        // One field a run, chosen by the bytes after the image, goes round
        // through its own text: all of them would make each run slow.
        const ImageField &f = fields.at(qsizetype(size > 512 ? data[512] : size) % fields.size());
        if (f.valid && f.key != QLatin1String("other")) {
            EepromBlock copy = block;
            if (EncodeField(copy, model, f.key, f.text)) {
                const std::optional<ImageField> back = DecodeField(copy, model, f.key);
                FUZZ_CHECK(back && back->text == f.text);
            }
        }
        FUZZ_CHECK(CompareImages(block, block, model).isEmpty());
    }
    const QString identity = size > 600 ? QStringLiteral("RQ-3530  v.1.08") : QStringLiteral("RQ-3510  v.1.08");
    RestoreRisks(block, qint64(size), QStringLiteral("RQ-3520_a1_2026-01-01.kee"), data && size ? data[0] : 0, 9600, identity);
    ModelsFitting(block);
    return 0;
}
