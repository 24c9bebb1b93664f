#include "image/Obraz.h"

#include "app/Dekl.h"
#include "image/Rozsahy.h"

#include <QHash>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace {

enum class Kind { Address, Baud, Input, Count, Thermometer, Bit, Gain, SignedOffset, Offset, Other };

// Where a field lies and how its bytes read.
struct FieldDef
{
    QString key;
    QString caption;
    Kind kind;
    QList<int> offsets;
    int bit = -1;
    int input = -1;     // for Input
    bool state = false; // a Bit of the DOUT initial state (else a negation)
    // The offsets as runs of neighbours [first, end): "other" holds most of
    // the block in a few runs, which compare and count a run at a time.
    QList<std::pair<int, int>> runs = {};
};

// The texts of every byte value, made once: a decode names dozens of bytes,
// and a fuzzed or damaged image mostly by their invalid values.
const QString &byteText(int byte)
{
    static const auto texts = [] {
        std::array<QString, 256> t;
        for (int i = 0; i < 256; ++i)
            t[std::size_t(i)] = QString::number(i);
        return t;
    }();
    return texts[std::size_t(byte & 0xFF)];
}

QString invalidText(int byte)
{
    static const auto texts = [] {
        std::array<QString, 256> t;
        for (int i = 0; i < 256; ++i)
            t[std::size_t(i)] = QStringLiteral("neplatná hodnota %1").arg(i);
        return t;
    }();
    return texts[std::size_t(byte & 0xFF)];
}

int inputCount(ModuleModel model)
{
    return model == ModuleModel::RQ3530 ? 6 : 12;
}

// The items an input of the model offers (RQ-3530: the sensor types).
QStringList inputItems(ModuleModel model, int input)
{
    switch (model) {
    case ModuleModel::RQ3510:
        return input % 2 == 0 ? Ranges3510() : Ranges3510().mid(0, VoltageRanges3510);
    case ModuleModel::RQ3520:
        return Ranges3520();
    case ModuleModel::RQ3530:
        return Sensors3530();
    }
    return {};
}

// How many items inputItems has, without a copy of the list: every decode
// asks for every input.
qsizetype inputItemCount(ModuleModel model, int input)
{
    switch (model) {
    case ModuleModel::RQ3510:
        return input % 2 == 0 ? Ranges3510().size() : VoltageRanges3510;
    case ModuleModel::RQ3520:
        return Ranges3520().size();
    case ModuleModel::RQ3530:
        return Sensors3530().size();
    }
    return 0;
}

bool inputValid(ModuleModel model, int input, int byte)
{
    if (model == ModuleModel::RQ3530)
        return (byte & 0x0F) < Sensors3530().size() && (byte >> 6) < Wirings3530().size();
    return byte < inputItemCount(model, input);
}

QString inputText(ModuleModel model, int input, int byte)
{
    if (!inputValid(model, input, byte))
        return invalidText(byte);
    if (model == ModuleModel::RQ3530)
        return Sensors3530().at(byte & 0x0F) + QStringLiteral(", ") + Units3530().at((byte >> 4) & 3) +
               QStringLiteral(", ") + Wirings3530().at(byte >> 6);
    // A valid byte of an RQ-3510's odd input is one of the first items.
    return (model == ModuleModel::RQ3520 ? Ranges3520() : Ranges3510()).at(byte);
}

QString thermometerText(int byte)
{
    // Switch and unit: four texts, made once.
    static const auto texts = [] {
        std::array<QString, 4> t;
        for (int i = 0; i < 4; ++i)
            t[std::size_t(i)] = QLatin1String((i & 2) ? "zapnuto" : "vypnuto") + QStringLiteral(", ") +
                                ((i & 1) ? QStringLiteral("°C") : QStringLiteral("dílky"));
        return t;
    }();
    return texts[std::size_t(((byte & 0x80) ? 2 : 0) | (byte & 0x01))];
}

QString bitText(bool state, int bit)
{
    if (state)
        return bit ? QStringLiteral("zapnuto") : QStringLiteral("vypnuto");
    return bit ? QStringLiteral("ano") : QStringLiteral("ne");
}

QString bytesText(qsizetype n)
{
    return CzechCount(n, QStringLiteral("bajt"), QStringLiteral("bajty"), QStringLiteral("bajtů"));
}

QList<FieldDef> buildFieldDefs(ModuleModel model)
{
    QList<FieldDef> list;
    list.append(
        {QStringLiteral("address"), QStringLiteral("Adresa modulu"), Kind::Address, {CfgAddr::Address}});
    list.append(
        {QStringLiteral("baud"), QStringLiteral("Komunikační rychlost"), Kind::Baud, {CfgAddr::BaudIndex}});
    for (int i = 0; i < inputCount(model); ++i) {
        const QString n = QString::number(i);
        list.append({QStringLiteral("ain") + n,
                     QStringLiteral("AIN") + n,
                     Kind::Input,
                     {CfgAddr::Ranges + i},
                     -1,
                     i});
    }
    if (model == ModuleModel::RQ3520)
        list.append({QStringLiteral("count"),
                     QStringLiteral("Počet měřených vstupů"),
                     Kind::Count,
                     {CfgAddr::InputCount}});
    list.append({QStringLiteral("thermometer"),
                 QStringLiteral("Interní teploměr"),
                 Kind::Thermometer,
                 {CfgAddr::Thermometer}});
    struct Group
    {
        const char *key;
        const char *caption;
        const char *channel;
        int first;
        bool state;
    };
    const Group groups[] = {{".negation", "Negace DIN", "din", CfgAddr::DinNegation, false},
                            {".negation", "Negace DOUT", "dout", CfgAddr::DoutNegation, false},
                            {".initial", "Počáteční stav DOUT", "dout", CfgAddr::DoutInitial, true}};
    for (const Group &g : groups) {
        for (int c = 0; c < 32; ++c) {
            const QString n = QString::number(c);
            list.append({QLatin1String(g.channel) + n + QLatin1String(g.key),
                         QString::fromUtf8(g.caption) + n,
                         Kind::Bit,
                         {g.first + 3 * (c / 8)},
                         c % 8,
                         -1,
                         g.state});
        }
    }
    list.append({QStringLiteral("ain.gain"),
                 QStringLiteral("Kalibrace AIN – zesílení"),
                 Kind::Gain,
                 {CfgAddr::AinGainLow, CfgAddr::AinGainHigh}});
    list.append({QStringLiteral("ain.offset"),
                 QStringLiteral("Kalibrace AIN – ofset"),
                 Kind::SignedOffset,
                 {CfgAddr::AinOffsetLow, CfgAddr::AinOffsetHigh}});
    list.append({QStringLiteral("thermometer.gain"),
                 QStringLiteral("Kalibrace teploměru – zesílení"),
                 Kind::Gain,
                 {CfgAddr::ThermoGainLow, CfgAddr::ThermoGainHigh}});
    list.append({QStringLiteral("thermometer.offset"),
                 QStringLiteral("Kalibrace teploměru – ofset"),
                 Kind::Offset,
                 {CfgAddr::ThermoOffsetLow, CfgAddr::ThermoOffsetHigh}});

    std::array<bool, EepromFileSize> used{};
    for (const FieldDef &s : list)
        for (int o : s.offsets)
            used[std::size_t(o)] = true;
    FieldDef other{QStringLiteral("other"), QStringLiteral("Ostatní bajty"), Kind::Other, {}};
    for (int o = 0; o < EepromFileSize; ++o)
        if (!used[std::size_t(o)])
            other.offsets.append(o);
    list.append(other);
    for (FieldDef &s : list)
        for (const int o : s.offsets)
            if (!s.runs.isEmpty() && s.runs.last().second == o)
                ++s.runs.last().second;
            else
                s.runs.append({o, o + 1});
    return list;
}

const QList<FieldDef> &fieldDefs(ModuleModel model)
{
    static const std::array<QList<FieldDef>, 3> all{buildFieldDefs(ModuleModel::RQ3510),
                                                    buildFieldDefs(ModuleModel::RQ3520),
                                                    buildFieldDefs(ModuleModel::RQ3530)};
    return all[std::size_t(model)];
}

const FieldDef *findFieldDef(ModuleModel model, const QString &key)
{
    // Every key of a plant file is looked up here: by hash, not by a walk.
    static const auto index = [] {
        std::array<QHash<QString, const FieldDef *>, 3> out;
        for (ModuleModel m : AllModels)
            for (const FieldDef &s : fieldDefs(m))
                out[std::size_t(m)].insert(s.key.toLower(), &s);
        return out;
    }();
    return index[std::size_t(model)].value(key.toLower());
}

int word(const EepromBlock &block, const FieldDef &s)
{
    return block[std::size_t(s.offsets.at(0))] | block[std::size_t(s.offsets.at(1))] << 8;
}

// Into a field in place: a whole image decodes into a list made once.
void decodeInto(ImageField &f, const EepromBlock &block, ModuleModel model, const FieldDef &s)
{
    f.key = s.key;
    f.caption = s.caption;
    f.offsets = s.offsets;
    f.bit = s.bit;
    const int byte = block[std::size_t(s.offsets.value(0))];
    switch (s.kind) {
    case Kind::Address:
        f.value = byte;
        f.text = byteText(byte);
        break;
    case Kind::Baud:
        f.value = byte;
        f.valid = byte < BaudItems.size();
        f.text = f.valid ? BaudItems.at(byte) : invalidText(byte);
        break;
    case Kind::Input:
        f.value = byte;
        f.valid = inputValid(model, s.input, byte);
        f.text = inputText(model, s.input, byte);
        break;
    case Kind::Count:
        f.value = byte;
        f.valid = byte >= 1 && byte <= 12;
        f.text = f.valid ? byteText(byte) : invalidText(byte);
        break;
    case Kind::Thermometer:
        f.value = byte;
        // The dialog writes only on/off and the unit; other bits are no setting.
        f.valid = (byte & 0x7E) == 0;
        f.text = f.valid ? thermometerText(byte) : invalidText(byte);
        break;
    case Kind::Bit:
        f.value = (byte >> s.bit) & 1;
        f.text = bitText(s.state, f.value);
        break;
    case Kind::Gain:
        // 10000 is a gain of 1.
        f.value = word(block, s);
        f.text = QString::number(f.value) + QStringLiteral(" (") +
                 QLocale().toString(f.value / 10000.0, 'f', 4) + QLatin1Char(')');
        break;
    case Kind::SignedOffset: {
        // Sign and magnitude: bit 15 is the sign.
        const int w = word(block, s);
        f.value = (w & 0x8000) ? -(w & 0x7FFF) : w;
        f.text = QString::number(f.value);
        break;
    }
    case Kind::Offset:
        f.value = word(block, s);
        f.text = QString::number(f.value);
        break;
    case Kind::Other: {
        qsizetype nonzero = 0;
        for (const auto &[first, end] : s.runs)
            nonzero +=
                std::count_if(block.cbegin() + first, block.cbegin() + end, [](quint8 b) { return b != 0; });
        f.value = static_cast<int>(s.offsets.size());
        f.text = bytesText(s.offsets.size()) + QStringLiteral(", nenulových: ") + QString::number(nonzero);
        break;
    }
    }
}

ImageField decode(const EepromBlock &block, ModuleModel model, const FieldDef &s)
{
    ImageField f;
    decodeInto(f, block, model, s);
    return f;
}

// A number within the bounds, or nothing.
std::optional<int> number(const QString &text, int low, int high)
{
    const std::optional<qint32> v = ParseIntText(text);
    if (!v || *v < low || *v > high)
        return std::nullopt;
    return *v;
}

int indexOf(const QStringList &items, const QString &text)
{
    for (int i = 0; i < items.size(); ++i)
        if (items.at(i).compare(text.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

// The bytes the value gives the field's offsets, or nothing when the value
// does not fit the field or the model.
std::optional<QList<int>> encode(const EepromBlock &block, ModuleModel model, const FieldDef &s,
                                 const QString &text)
{
    const QString t = text.trimmed();
    const int byte = block[std::size_t(s.offsets.value(0))];
    switch (s.kind) {
    case Kind::Address:
        if (const auto v = number(t, 0, 255))
            return QList<int>{*v};
        return std::nullopt;
    case Kind::Baud: {
        QString rate = t;
        if (rate.endsWith(QStringLiteral("Bd"), Qt::CaseInsensitive))
            rate.chop(2);
        const std::optional<int> v = number(rate.trimmed(), 1, 1000000);
        for (int i = 0; v && i < BaudItems.size(); ++i)
            if (BaudRateOfIndex(i) == quint32(*v))
                return QList<int>{i};
        return std::nullopt;
    }
    case Kind::Input: {
        std::optional<int> v;
        if (model == ModuleModel::RQ3530) {
            const QStringList parts = t.split(QLatin1Char(','));
            if (parts.size() == 3) {
                const int sensor = indexOf(Sensors3530(), parts.at(0));
                const int unit = indexOf(Units3530(), parts.at(1));
                const int wiring = indexOf(Wirings3530(), parts.at(2));
                if (sensor >= 0 && unit >= 0 && wiring >= 0)
                    v = PackSensor3530(sensor, unit, wiring);
            }
        } else if (const int i = indexOf(inputItems(model, s.input), t); i >= 0) {
            v = i;
        }
        if (!v)
            v = number(t, 0, 255);
        if (v && inputValid(model, s.input, *v))
            return QList<int>{*v};
        return std::nullopt;
    }
    case Kind::Count:
        if (const auto v = number(t, 1, 12))
            return QList<int>{*v};
        return std::nullopt;
    case Kind::Thermometer: {
        for (int v : {0x00, 0x01, 0x80, 0x81})
            if (thermometerText(v).compare(t, Qt::CaseInsensitive) == 0)
                return QList<int>{v};
        const std::optional<int> v = number(t, 0, 255);
        if (v && (*v & 0x7E) == 0)
            return QList<int>{*v};
        return std::nullopt;
    }
    case Kind::Bit: {
        int bit = -1;
        if (t == u"1" || t.compare(bitText(s.state, 1), Qt::CaseInsensitive) == 0)
            bit = 1;
        else if (t == u"0" || t.compare(bitText(s.state, 0), Qt::CaseInsensitive) == 0)
            bit = 0;
        if (bit < 0)
            return std::nullopt;
        return QList<int>{bit ? byte | (1 << s.bit) : byte & ~(1 << s.bit)};
    }
    case Kind::Gain:
    case Kind::Offset:
        if (const auto v = number(t, 0, 0xFFFF))
            return QList<int>{*v & 0xFF, *v >> 8};
        return std::nullopt;
    case Kind::SignedOffset:
        if (const auto v = number(t, -0x7FFF, 0x7FFF)) {
            const int w = *v < 0 ? 0x8000 | -*v : *v;
            return QList<int>{w & 0xFF, w >> 8};
        }
        return std::nullopt;
    case Kind::Other:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

QString ModelName(ModuleModel model)
{
    switch (model) {
    case ModuleModel::RQ3510:
        return QStringLiteral("RQ-3510");
    case ModuleModel::RQ3520:
        return QStringLiteral("RQ-3520");
    case ModuleModel::RQ3530:
        return QStringLiteral("RQ-3530");
    }
    return {};
}

std::optional<ModuleModel> ModelOfIdentity(const QString &identity)
{
    // On views: every restore check and every model lookup passes here.
    QStringView t = QStringView(identity).trimmed();
    if (t.startsWith(u"RQ-", Qt::CaseInsensitive))
        t = t.mid(3);
    if (t.size() > 4 && t.at(4).isDigit())
        return std::nullopt;
    for (ModuleModel m : AllModels)
        if (t.left(4) == QStringView(ModelName(m)).mid(3))
            return m;
    return std::nullopt;
}

QList<ModuleModel> ModelsFitting(const EepromBlock &block)
{
    QList<ModuleModel> models;
    for (ModuleModel m : AllModels) {
        bool fits = true;
        for (int i = 0; i < inputCount(m); ++i)
            fits = fits && inputValid(m, i, block[std::size_t(CfgAddr::Ranges + i)]);
        if (fits)
            models.append(m);
    }
    return models;
}

int InputsFitting(const EepromBlock &block, ModuleModel model)
{
    int valid = 0;
    for (int i = 0; i < inputCount(model); ++i)
        valid += inputValid(model, i, block[std::size_t(CfgAddr::Ranges + i)]) ? 1 : 0;
    return valid;
}

QStringList InvalidInputs(const EepromBlock &block, ModuleModel model)
{
    QStringList captions;
    for (const FieldDef &s : fieldDefs(model))
        if (s.kind == Kind::Input && !inputValid(model, s.input, block[std::size_t(s.offsets.at(0))]))
            captions.append(s.caption);
    return captions;
}

QList<ImageField> DecodeImage(const EepromBlock &block, ModuleModel model)
{
    const QList<FieldDef> &defs = fieldDefs(model);
    QList<ImageField> fields(defs.size());
    ImageField *f = fields.data();
    for (const FieldDef &s : defs)
        decodeInto(*f++, block, model, s);
    return fields;
}

std::optional<ImageField> DecodeField(const EepromBlock &block, ModuleModel model, const QString &key)
{
    if (const FieldDef *s = findFieldDef(model, key))
        return decode(block, model, *s);
    return std::nullopt;
}

QStringList FieldKeys(ModuleModel model)
{
    QStringList keys;
    for (const FieldDef &s : fieldDefs(model))
        keys.append(s.key);
    return keys;
}

QString FieldChange::text() const
{
    if (key == u"other")
        return caption + QStringLiteral(": liší se ") + bytesText(offsets.size());
    return caption + QStringLiteral(": ") + before + QStringLiteral(" → ") + after;
}

QList<FieldChange> CompareImages(const EepromBlock &before, const EepromBlock &after, ModuleModel model)
{
    QList<FieldChange> changes;
    for (const FieldDef &s : fieldDefs(model)) {
        QList<int> differ;
        const int mask = s.bit >= 0 ? 1 << s.bit : 0xFF;
        for (const auto &[first, end] : std::span(s.runs.constData(), std::size_t(s.runs.size()))) {
            // A run whose bytes are all the same has nothing to look at bit by bit.
            if (std::memcmp(before.data() + first, after.data() + first, std::size_t(end - first)) == 0)
                continue;
            for (int o = first; o < end; ++o)
                if ((before[std::size_t(o)] & mask) != (after[std::size_t(o)] & mask))
                    differ.append(o);
        }
        if (differ.isEmpty())
            continue;
        FieldChange c{s.key, s.caption, {}, {}, differ};
        if (s.kind != Kind::Other) {
            c.before = decode(before, model, s).text;
            c.after = decode(after, model, s).text;
        }
        changes.append(c);
    }
    return changes;
}

QStringList FieldChoices(ModuleModel model, const QString &key)
{
    const FieldDef *s = findFieldDef(model, key);
    if (!s)
        return {};
    switch (s->kind) {
    case Kind::Baud:
        return BaudItems;
    case Kind::Input:
        if (model == ModuleModel::RQ3530) {
            QStringList all;
            for (const QString &sensor : Sensors3530())
                for (const QString &unit : Units3530())
                    for (const QString &wiring : Wirings3530())
                        all.append(sensor + QStringLiteral(", ") + unit + QStringLiteral(", ") + wiring);
            return all;
        }
        return inputItems(model, s->input);
    case Kind::Thermometer:
        return {thermometerText(0x00), thermometerText(0x01), thermometerText(0x80), thermometerText(0x81)};
    case Kind::Bit:
        return {bitText(s->state, 1), bitText(s->state, 0)};
    default:
        return {};
    }
}

bool EncodeField(EepromBlock &block, ModuleModel model, const QString &key, const QString &value,
                 QString *error)
{
    const FieldDef *s = findFieldDef(model, key);
    QString why;
    if (!s)
        why = QStringLiteral("Model %1 nemá položku „%2“.").arg(ModelName(model), key);
    else if (s->kind == Kind::Other)
        why = QStringLiteral("Položku „%1“ nelze nastavit.").arg(s->key);
    else if (const std::optional<QList<int>> bytes = encode(block, model, *s, value)) {
        for (int i = 0; i < bytes->size(); ++i)
            block[std::size_t(s->offsets.at(i))] = quint8(bytes->at(i));
        return true;
    } else
        why = QStringLiteral("Hodnota „%1“ neplatí pro položku %2 modelu %3.")
                  .arg(value, s->key, ModelName(model));
    if (error)
        *error = why;
    return false;
}

QString ThermometerUnit(quint8 byte)
{
    if (!(byte & 0x80))
        return {};
    return (byte & 0x01) ? QStringLiteral("°C") : QStringLiteral("dílky");
}

QString BlockPlace(int offset)
{
    return QStringLiteral("stránka %1, adresa %2").arg(offset / 256).arg(offset % 256);
}
