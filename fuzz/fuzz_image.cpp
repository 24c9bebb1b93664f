// Any bytes as a configuration image, decoded as one model a run (chosen by
// a byte after the image, or by the size of a shorter input): decoding never
// crashes, every field's offsets lie inside the image, a compare with a copy
// that differs in one bit finds exactly the field of that bit with the texts
// the decoder gives, and a field encoded from its own text decodes back to
// the same value. The risk check of a restore takes any image and size.
#include "FuzzSupport.h"

#include "image/Obnova.h"
#include "image/Obraz.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

namespace {

// The byte of the input at index, or a value from the size where the input is
// shorter (the choices still vary with short inputs).
std::size_t pick(const std::uint8_t *data, std::size_t size, std::size_t index)
{
    return size > index ? data[index] : size;
}

// The offsets of a model's fields do not depend on the bytes: checked whole
// the first time, then every run compares each list with the checked one
// (the same shared list compares in one step).
void checkOffsets(ModuleModel model, const QList<ImageField> &fields)
{
    static std::array<QList<QList<int>>, std::size(AllModels)> checked;
    QList<QList<int>> &known = checked[std::size_t(model)];
    if (known.isEmpty()) {
        for (const ImageField &f : fields) {
            FUZZ_CHECK(!f.offsets.isEmpty());
            for (int o : f.offsets)
                FUZZ_CHECK(o >= 0 && o < EepromFileSize);
            known.append(f.offsets);
        }
    }
    FUZZ_CHECK(known.size() == fields.size());
    const QList<int> *k = known.constData();
    for (const ImageField *f = fields.constData(), *end = f + fields.size(); f != end; ++f, ++k)
        FUZZ_CHECK(f->offsets == *k);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    EepromBlock block{};
    std::copy_n(data, std::min<std::size_t>(size, block.size()), block.begin());
    // One model a run: all of them would make each run several times slower,
    // and the fuzzer reaches every model through that byte anyway.
    const ModuleModel model = AllModels[pick(data, size, 513) % std::size(AllModels)];
    const QList<ImageField> fields = DecodeImage(block, model);
    FUZZ_CHECK(!fields.isEmpty());
    checkOffsets(model, fields);

    // One field a run, chosen by the bytes after the image, goes round
    // through its own text: all of them would make each run slow.
    const ImageField &f = fields.at(qsizetype(pick(data, size, 512)) % fields.size());
    if (f.valid && f.key != QLatin1String("other")) {
        EepromBlock copy = block;
        if (EncodeField(copy, model, f.key, f.text)) {
            const std::optional<ImageField> back = DecodeField(copy, model, f.key);
            FUZZ_CHECK(back && back->text == f.text);
        }
    }

    // One bit flipped (offset and bit from the bytes after the image): the
    // compare names exactly the field that holds the bit, nothing else, and
    // its texts before and after are the decoder's.
    const int offset = int((pick(data, size, 514) << 8 | pick(data, size, 515)) % EepromFileSize);
    const int bit = int(pick(data, size, 516) % 8);
    EepromBlock flipped = block;
    flipped[std::size_t(offset)] ^= quint8(1 << bit);
    const QList<FieldChange> changes = CompareImages(block, flipped, model);
    FUZZ_CHECK(changes.size() == 1);
    const FieldChange &c = changes.first();
    FUZZ_CHECK(c.offsets == QList<int>{offset});
    const auto holder =
        std::find_if(fields.cbegin(), fields.cend(), [&c](const ImageField &g) { return g.key == c.key; });
    FUZZ_CHECK(holder != fields.cend() && holder->caption == c.caption);
    FUZZ_CHECK(holder->offsets.contains(offset) && (holder->bit < 0 || holder->bit == bit));
    if (c.key != QLatin1String("other")) {
        FUZZ_CHECK(c.before == holder->text);
        const std::optional<ImageField> after = DecodeField(flipped, model, c.key);
        FUZZ_CHECK(after && c.after == after->text);
    }

    const QString identity =
        size > 600 ? QStringLiteral("RQ-3530  v.1.08") : QStringLiteral("RQ-3510  v.1.08");
    RestoreRisks(block, qint64(size), QStringLiteral("RQ-3520_a1_2026-01-01.kee"), data && size ? data[0] : 0,
                 9600, identity);
    ModelsFitting(block);
    return 0;
}
