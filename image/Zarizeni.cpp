#include "image/Zarizeni.h"

#include "app/Dekl.h"
#include "core/Cislo.h"

#include <QSet>

#include <algorithm>
#include <array>

namespace {

const QStringList BusKeys = {
    QStringLiteral("adapter"),  QStringLiteral("com"),         QStringLiteral("isa"), QStringLiteral("ip"),
    QStringLiteral("udp-port"), QStringLiteral("udp-timeout"), QStringLiteral("baud")};
// The module keys that belong to rqgw alone.
const QStringList GatewayModuleKeys = {QStringLiteral("unit"), QStringLiteral("interval")};

bool settable(const QString &key)
{
    // Where the module answers is address= and baud= of the section, and the
    // constants belong to its hardware.
    return key != u"address" && key != u"baud" && key != u"other" && !key.endsWith(u".gain") &&
           !key.endsWith(u".offset");
}

std::optional<quint32> rate(const QString &text)
{
    const std::optional<qint32> v = ParseIntText(text.trimmed());
    for (int i = 0; v && i < 9; ++i)
        if (BaudRateOfIndex(i) == quint32(*v))
            return quint32(*v);
    return std::nullopt;
}

// key=value of a line that is no section head, comment or blank.
bool splitLine(const QString &line, QString &key, QString &value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    key = line.left(eq).trimmed().toLower();
    value = line.mid(eq + 1).trimmed();
    return true;
}

QString lineText(const QList<QByteArray> &lines, int i)
{
    QString line = QString::fromUtf8(lines.at(i)).trimmed();
    if (i == 0 && line.startsWith(QChar(0xFEFF)))
        line = line.mid(1).trimmed();
    return line;
}

bool isComment(const QString &line)
{
    return line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#'));
}

} // namespace

quint32 PlantFile::baud() const
{
    for (const auto &[key, value] : bus)
        if (key == u"baud")
            return rate(value).value_or(9600);
    return 9600;
}

QString PlantFile::gatewayValue(const QString &key) const
{
    QString out;
    for (const auto &[k, v] : gateway)
        if (k == key)
            out = v;
    return out;
}

QString PlantError::text(const QString &file) const
{
    QString where = file;
    if (line > 0)
        where += QStringLiteral(":%1").arg(line);
    return key.isEmpty() ? QStringLiteral("%1: %2").arg(where, reason)
                         : QStringLiteral("%1: %2: %3").arg(where, key, reason);
}

const QStringList &PlantKeys(ModuleModel model)
{
    // Asked for every line of a file: made once.
    static const auto keys = [] {
        std::array<QStringList, 3> out;
        for (ModuleModel m : AllModels) {
            QStringList k = FieldKeys(m);
            k.removeIf([](const QString &key) { return !settable(key); });
            out[std::size_t(m)] = k;
        }
        return out;
    }();
    return keys[std::size_t(model)];
}

namespace {
bool isKeyOf(ModuleModel model, const QString &key)
{
    static const auto sets = [] {
        std::array<QSet<QString>, 3> out;
        for (ModuleModel m : AllModels)
            out[std::size_t(m)] = QSet<QString>(PlantKeys(m).cbegin(), PlantKeys(m).cend());
        return out;
    }();
    return sets[std::size_t(model)].contains(key);
}
} // namespace

bool IsPlantKey(const QString &key)
{
    static const auto all = [] {
        QSet<QString> out;
        for (ModuleModel m : AllModels)
            for (const QString &k : PlantKeys(m))
                out.insert(k);
        return out;
    }();
    return all.contains(key);
}

std::optional<ModuleModel> PlantModelOf(const QString &value)
{
    const QString t = value.trimmed();
    for (ModuleModel m : AllModels)
        if (t.compare(ModelName(m), Qt::CaseInsensitive) == 0 || t == ModelName(m).mid(3))
            return m;
    return std::nullopt;
}

std::optional<PlantError> CheckPlantSettings(const std::optional<ModuleModel> &model,
                                             const QList<PlantSetting> &settings)
{
    QSet<QString> seen;
    for (const PlantSetting &s : settings) {
        if (seen.contains(s.key))
            return PlantError{s.line, s.key, QStringLiteral("klíč je v oddílu modulu dvakrát")};
        seen.insert(s.key);
        const QList<ModuleModel> models =
            model ? QList<ModuleModel>{*model}
                  : QList<ModuleModel>(std::begin(AllModels), std::end(AllModels));
        bool known = false, fits = false;
        QString why;
        for (ModuleModel m : models) {
            if (!isKeyOf(m, s.key))
                continue;
            known = true;
            EepromBlock blank{};
            if (EncodeField(blank, m, s.key, s.value, &why)) {
                fits = true;
                break;
            }
        }
        if (!known)
            return PlantError{s.line, s.key,
                              model ? QStringLiteral("model %1 takový klíč nemá (klíče: rqtool get --list)")
                                          .arg(ModelName(*model))
                                    : QStringLiteral("neznámý klíč (klíče: rqtool get --list)")};
        if (!fits) {
            QString reason = QStringLiteral("hodnota „%1“ neplatí").arg(s.value);
            if (model)
                reason += QStringLiteral(" pro model %1").arg(ModelName(*model));
            return PlantError{s.line, s.key, reason};
        }
    }
    return std::nullopt;
}

std::optional<PlantError> ReadPlantSections(const QByteArray &text, const PlantSectionVisitor &visitor)
{
    if (text.contains('\0'))
        return PlantError{0, {}, QStringLiteral("soubor není text")};
    PlantSection section = PlantSection::None;
    QSet<QString> names;
    const QList<QByteArray> lines = text.split('\n');
    for (int i = 0; i < lines.size(); ++i) {
        const int n = i + 1;
        const QString line = lineText(lines, i);
        if (line.isEmpty() || isComment(line))
            continue;
        if (line.contains(QChar::ReplacementCharacter))
            return PlantError{n, {}, QStringLiteral("text není v kódování UTF-8")};
        if (line.startsWith(QLatin1Char('['))) {
            if (!line.endsWith(QLatin1Char(']')))
                return PlantError{n, {}, QStringLiteral("neuzavřený název oddílu")};
            if (auto e = visitor.sectionEnds(section))
                return e;
            const QString head = line.mid(1, line.size() - 2).trimmed();
            const QString lower = head.toLower();
            QString name;
            if (lower == u"gateway") {
                section = PlantSection::Gateway;
            } else if (lower == u"bus") {
                section = PlantSection::Bus;
            } else if (lower.startsWith(u"module ") || lower.startsWith(u"module\t")) {
                name = head.mid(7).trimmed();
                if (names.contains(name.toLower()))
                    return PlantError{n, {}, QStringLiteral("modul %1 je uveden dvakrát").arg(name)};
                names.insert(name.toLower());
                section = PlantSection::Module;
            } else {
                return PlantError{n, {}, QStringLiteral("neznámý oddíl [%1]").arg(head)};
            }
            visitor.sectionStarts(section, name, n);
            continue;
        }
        QString key, value;
        if (!splitLine(line, key, value))
            return PlantError{n, {}, QStringLiteral("očekáváno klíč=hodnota")};
        if (auto e = visitor.entry(section, key, value, n))
            return e;
    }
    return visitor.sectionEnds(section);
}

std::optional<PlantError> ParsePlantFile(const QByteArray &text, PlantFile &plant)
{
    PlantFile out;
    bool addressSet = false;
    PlantSectionVisitor visitor;
    visitor.sectionEnds = [&](PlantSection section) -> std::optional<PlantError> {
        if (section != PlantSection::Module)
            return std::nullopt;
        const PlantModule &m = out.modules.last();
        if (!addressSet)
            return PlantError{m.line, QStringLiteral("address"),
                              QStringLiteral("modul %1 nemá adresu").arg(m.name)};
        return CheckPlantSettings(m.model, m.settings);
    };
    visitor.sectionStarts = [&](PlantSection section, const QString &name, int n) {
        if (section != PlantSection::Module)
            return;
        out.modules.append(PlantModule{name, n, n, 0, 0, std::nullopt, {}});
        addressSet = false;
    };
    visitor.entry = [&](PlantSection section, const QString &key, const QString &value,
                        int n) -> std::optional<PlantError> {
        switch (section) {
        case PlantSection::None:
            return PlantError{n, key, QStringLiteral("klíč mimo oddíl")};
        case PlantSection::Gateway:
            out.gateway.append({key, value});
            break;
        case PlantSection::Bus:
            if (!BusKeys.contains(key))
                return PlantError{n, key, QStringLiteral("neznámý klíč")};
            if (key == u"baud" && !rate(value))
                return PlantError{n, key, QStringLiteral("neplatná rychlost (600 až 115200 Bd)")};
            out.bus.append({key, value});
            break;
        case PlantSection::Module: {
            PlantModule &m = out.modules.last();
            m.endLine = n;
            if (key == u"address") {
                const std::optional<qint32> v = ParseIntText(value);
                if (!v || *v < 0 || *v > 255)
                    return PlantError{n, key, QStringLiteral("očekáváno celé číslo 0 až 255")};
                m.address = quint8(*v);
                addressSet = true;
            } else if (key == u"baud") {
                const std::optional<quint32> r = rate(value);
                if (!r)
                    return PlantError{n, key, QStringLiteral("neplatná rychlost (600 až 115200 Bd)")};
                m.baud = *r;
            } else if (key == u"model") {
                m.model = PlantModelOf(value);
                if (!m.model)
                    return PlantError{n, key, QStringLiteral("očekáváno RQ-3510, RQ-3520 nebo RQ-3530")};
            } else if (IsPlantKey(key)) {
                m.settings.append(PlantSetting{key, value, n});
            } else if (!GatewayModuleKeys.contains(key)) {
                return PlantError{n, key, QStringLiteral("neznámý klíč (klíče: rqtool get --list)")};
            }
            break;
        }
        }
        return std::nullopt;
    };
    if (auto e = ReadPlantSections(text, visitor))
        return e;
    // Two sections for one module would ask for two settings at once.
    for (int a = 0; a < out.modules.size(); ++a)
        for (int b = 0; b < a; ++b) {
            const PlantModule &x = out.modules.at(a), &y = out.modules.at(b);
            if (x.address == y.address && (x.baud ? x.baud : out.baud()) == (y.baud ? y.baud : out.baud()))
                return PlantError{
                    x.line, QStringLiteral("address"),
                    QStringLiteral("adresu %1 na této rychlosti už má modul %2").arg(x.address).arg(y.name)};
        }
    plant = out;
    return std::nullopt;
}

QList<int> PlantOffsets(ModuleModel model, const QList<PlantSetting> &settings)
{
    const EepromBlock blank{};
    QList<int> offsets;
    for (const PlantSetting &s : settings)
        if (const std::optional<ImageField> f = DecodeField(blank, model, s.key))
            for (int o : f->offsets)
                if (!offsets.contains(o))
                    offsets << o;
    std::sort(offsets.begin(), offsets.end());
    return offsets;
}

bool ApplyPlantSettings(EepromBlock &block, ModuleModel model, const QList<PlantSetting> &settings,
                        QString *why)
{
    EepromBlock out = block;
    for (const PlantSetting &s : settings) {
        if (!isKeyOf(model, s.key)) {
            if (why)
                *why = QStringLiteral("model %1 nemá klíč „%2“").arg(ModelName(model), s.key);
            return false;
        }
        if (!EncodeField(out, model, s.key, s.value, why))
            return false;
    }
    block = out;
    return true;
}

QList<int> ChangedOffsets(const EepromBlock &a, const EepromBlock &b, const QList<int> &offsets)
{
    QList<int> changed;
    for (int o : offsets)
        if (a[std::size_t(o)] != b[std::size_t(o)])
            changed << o;
    return changed;
}

QStringList PlantSettingLines(const EepromBlock &block, ModuleModel model)
{
    QStringList lines{QStringLiteral("model=%1").arg(ModelName(model))};
    for (const ImageField &f : DecodeImage(block, model)) {
        if (!isKeyOf(model, f.key))
            continue;
        const QString &key = f.key;
        // Written as is, a value no model takes would make the file one
        // that plan and apply refuse.
        if (f.valid)
            lines << QStringLiteral("%1=%2").arg(key, f.text);
        else
            lines << QStringLiteral("%1 %2=%3 (hodnotu model nezná, nastavení ji ponechá)")
                         .arg(PlantCommentMark, key)
                         .arg(f.value);
    }
    return lines;
}

QByteArray FillPlantFile(const QByteArray &text, const PlantFile &plant, const QList<QStringList> &fill)
{
    const QList<QByteArray> lines = text.split('\n');
    QByteArray out;
    int module = -1;
    bool inModule = false;
    const auto put = [&out](const QByteArray &line) { out += line + '\n'; };
    const auto insert = [&](int index) {
        for (const QString &l : fill.value(index))
            put(l.toUtf8());
    };
    for (int i = 0; i < lines.size(); ++i) {
        const int n = i + 1;
        const QString line = lineText(lines, i);
        if (line.startsWith(QLatin1Char('['))) {
            inModule = false;
            for (int k = 0; k < plant.modules.size(); ++k)
                if (plant.modules.at(k).line == n) {
                    module = k;
                    inModule = true;
                }
        }
        QString key, value;
        const bool drop =
            inModule && !line.startsWith(QLatin1Char('[')) &&
            (line.startsWith(PlantCommentMark) ||
             (!isComment(line) && splitLine(line, key, value) && (key == u"model" || IsPlantKey(key))));
        // The text's last line has no line break after it.
        if (!drop && !(i == lines.size() - 1 && lines.at(i).isEmpty()))
            put(lines.at(i));
        if (inModule && plant.modules.at(module).endLine == n)
            insert(module);
    }
    return out;
}
