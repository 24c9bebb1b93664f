// The configuration image decoder, its compare and encoder, the restore
// risk check and the plant file.
#include "app/Dekl.h"
#include "image/Obnova.h"
#include "image/Obraz.h"
#include "image/Zarizeni.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {
// A module's configuration memory as it leaves the factory.
EepromBlock factory(ModuleModel model)
{
    EepromBlock b{};
    for (int i = 0; i < 12; ++i)
        b[std::size_t(i)] = model == ModuleModel::RQ3510   ? 6
                            : model == ModuleModel::RQ3520 ? 4
                                                           : (i < 6 ? 0x83 : 0);
    b[16] = 12;
    b[23] = 16, b[24] = 39, b[27] = 16, b[28] = 39, b[30] = 0x80;
    b[31] = 0x81;
    for (int k = 0; k < 4; ++k)
        b[std::size_t(33 + 3 * k)] = b[std::size_t(34 + 3 * k)] = 0xFF;
    b[62] = 4;
    b[63] = 1;
    return b;
}

QMap<QString, ImageField> byKey(const QList<ImageField> &fields)
{
    QMap<QString, ImageField> map;
    for (const ImageField &f : fields)
        map.insert(f.key, f);
    return map;
}

const QString Invalid = QStringLiteral("neplatná hodnota %1");
} // namespace

Q_DECLARE_METATYPE(ModuleModel)

class TestObraz : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Czech, QLocale::CzechRepublic)); }

    void factoryDefaults_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::addColumn<int>("fields");
        QTest::addColumn<QString>("ain0");
        QTest::newRow("RQ-3510") << ModuleModel::RQ3510 << 116 << QStringLiteral("+/- 2 V");
        QTest::newRow("RQ-3520") << ModuleModel::RQ3520 << 117 << QStringLiteral("+/- 500 mV");
        QTest::newRow("RQ-3530") << ModuleModel::RQ3530 << 110 << QStringLiteral("5 kohm, ohm, 4 vodiče");
    }
    void factoryDefaults()
    {
        QFETCH(ModuleModel, model);
        QFETCH(int, fields);
        QFETCH(QString, ain0);
        const QList<ImageField> list = DecodeImage(factory(model), model);
        QCOMPARE(list.size(), fields);
        QCOMPARE(FieldKeys(model).size(), fields);
        const auto f = byKey(list);
        QCOMPARE(f.size(), fields); // keys are unique
        for (const ImageField &field : list)
            QVERIFY2(field.valid, qPrintable(field.key));
        QCOMPARE(f[QStringLiteral("address")].text, QStringLiteral("1"));
        QCOMPARE(f[QStringLiteral("address")].caption, QStringLiteral("Adresa modulu"));
        QCOMPARE(f[QStringLiteral("baud")].text, QStringLiteral("9600 Bd"));
        QCOMPARE(f[QStringLiteral("baud")].caption, QStringLiteral("Komunikační rychlost"));
        QCOMPARE(f[QStringLiteral("ain0")].text, ain0);
        QCOMPARE(f[QStringLiteral("ain0")].caption, QStringLiteral("AIN0"));
        QCOMPARE(f.contains(QStringLiteral("ain11")), model != ModuleModel::RQ3530);
        QCOMPARE(f.contains(QStringLiteral("count")), model == ModuleModel::RQ3520);
        QCOMPARE(f[QStringLiteral("thermometer")].text, QStringLiteral("zapnuto, °C"));
        QCOMPARE(f[QStringLiteral("din0.negation")].text, QStringLiteral("ano"));
        QCOMPARE(f[QStringLiteral("din31.negation")].caption, QStringLiteral("Negace DIN31"));
        QCOMPARE(f[QStringLiteral("dout17.negation")].offsets, QList<int>{40});
        QCOMPARE(f[QStringLiteral("dout17.negation")].bit, 1);
        QCOMPARE(f[QStringLiteral("dout31.initial")].text, QStringLiteral("vypnuto"));
        QCOMPARE(f[QStringLiteral("dout31.initial")].caption, QStringLiteral("Počáteční stav DOUT31"));
        QCOMPARE(f[QStringLiteral("ain.gain")].text, QStringLiteral("10000 (1,0000)"));
        QCOMPARE(f[QStringLiteral("ain.offset")].value, 0);
        QCOMPARE(f[QStringLiteral("thermometer.gain")].value, 10000);
        QCOMPARE(f[QStringLiteral("thermometer.offset")].value, 32768);
        // Every byte belongs to exactly one field.
        QMap<int, int> owners;
        for (const ImageField &field : list)
            if (field.bit <= 0)
                for (int o : field.offsets)
                    ++owners[o];
        QCOMPARE(owners.size(), EepromFileSize);
        for (auto it = owners.cbegin(); it != owners.cend(); ++it)
            QVERIFY2(it.value() == 1, qPrintable(QString::number(it.key())));
    }

    // Every byte 0..255 on every input of every model.
    void everyRangeByte_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::addColumn<int>("input");
        QTest::addColumn<QStringList>("items"); // RQ-3530: the sensor types
        const QStringList r3510{u"+/- 20 mV"_s,  u"+/- 50 mV"_s, u"+/- 100 mV"_s, u"+/- 200 mV"_s,
                                u"+/- 500 mV"_s, u"+/- 1 V"_s,   u"+/- 2 V"_s,    u"100 ohm"_s,
                                u"500 ohm"_s,    u"1 kohm"_s,    u"5 kohm"_s};
        const QStringList r3520{u"+/- 20 mV"_s,  u"+/- 50 mV"_s, u"+/- 100 mV"_s, u"+/- 200 mV"_s,
                                u"+/- 500 mV"_s, u"TC typ M"_s,  u"TC typ T"_s,   u"TC typ J"_s,
                                u"TC typ L"_s,   u"TC typ E"_s,  u"TC typ K"_s,   u"TC typ S"_s,
                                u"TC typ R"_s,   u"TC typ B"_s,  u"TC typ A"_s};
        const QStringList s3530{u"100 ohm"_s, u"500 ohm"_s,         u"1 kohm"_s,
                                u"5 kohm"_s,  u"Pt100 (0.00385)"_s, u"Pt100 (0.00391)"_s,
                                u"Ni100"_s,   u"Ni1000"_s,          u"KTY10"_s};
        for (int i = 0; i < 12; ++i) {
            QTest::addRow("RQ-3510 AIN%d", i)
                << ModuleModel::RQ3510 << i << (i % 2 ? r3510.mid(0, 7) : r3510);
            QTest::addRow("RQ-3520 AIN%d", i) << ModuleModel::RQ3520 << i << r3520;
        }
        for (int i = 0; i < 6; ++i)
            QTest::addRow("RQ-3530 AIN%d", i) << ModuleModel::RQ3530 << i << s3530;
    }
    void everyRangeByte()
    {
        QFETCH(ModuleModel, model);
        QFETCH(int, input);
        QFETCH(QStringList, items);
        const QStringList units{u"ohm"_s, u"Kelvin"_s, u"°C"_s, u"°F"_s};
        const QStringList wirings{u"2 vodiče"_s, u"3 vodiče"_s, u"4 vodiče"_s};
        const QString key = QStringLiteral("ain%1").arg(input);
        for (int byte = 0; byte < 256; ++byte) {
            EepromBlock b = factory(model);
            b[std::size_t(input)] = quint8(byte);
            const ImageField f = *DecodeField(b, model, key);
            QString expected;
            if (model == ModuleModel::RQ3530) {
                if ((byte & 15) < 9 && (byte >> 6) < 3)
                    expected =
                        items[byte & 15] + u", "_s + units[(byte >> 4) & 3] + u", "_s + wirings[byte >> 6];
            } else if (byte < items.size()) {
                expected = items[byte];
            }
            QCOMPARE(f.valid, !expected.isEmpty());
            QCOMPARE(f.text, expected.isEmpty() ? Invalid.arg(byte) : expected);
            QCOMPARE(f.value, byte);
            QCOMPARE(ModelsFitting(b).contains(model), f.valid);
            // What is shown is what can be set, and nothing else can.
            EepromBlock c = factory(model);
            QString error;
            QCOMPARE(EncodeField(c, model, key, f.text, &error), f.valid);
            QCOMPARE(EncodeField(c, model, key, QString::number(byte)), f.valid);
            QCOMPARE(c == b, f.valid);
            if (!f.valid)
                QVERIFY(error.contains(key));
        }
    }

    void otherBytes_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("key"); // the field the byte belongs to
        QTest::newRow("3510 count byte is other") << ModuleModel::RQ3510 << 16 << QStringLiteral("other");
        QTest::newRow("3520 count") << ModuleModel::RQ3520 << 16 << QStringLiteral("count");
        QTest::newRow("3530 AIN6 byte is other") << ModuleModel::RQ3530 << 6 << QStringLiteral("other");
        QTest::newRow("3510 AIN11") << ModuleModel::RQ3510 << 11 << QStringLiteral("ain11");
        QTest::newRow("page 0 address 12") << ModuleModel::RQ3520 << 12 << QStringLiteral("other");
        QTest::newRow("page 0 address 44") << ModuleModel::RQ3510 << 44 << QStringLiteral("other");
        QTest::newRow("page 1 address 63") << ModuleModel::RQ3510 << 256 + 63 << QStringLiteral("other");
        QTest::newRow("analog gain high") << ModuleModel::RQ3530 << 24 << QStringLiteral("ain.gain");
    }
    void otherBytes()
    {
        QFETCH(ModuleModel, model);
        QFETCH(int, offset);
        QFETCH(QString, key);
        const EepromBlock a = factory(model);
        EepromBlock b = a;
        b[std::size_t(offset)] ^= 0x5A;
        const QList<FieldChange> changes = CompareImages(a, b, model);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes[0].key, key);
        QCOMPARE(changes[0].offsets, QList<int>{offset});
        if (key == u"other"_s)
            QCOMPARE(changes[0].text(), QStringLiteral("Ostatní bajty: liší se 1 bajt"));
    }

    void invalidBytes_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("text");
        const auto m = ModuleModel::RQ3520;
        QTest::newRow("baud 115200") << m << 62 << 8 << u"baud"_s << true << u"115200 Bd"_s;
        QTest::newRow("baud 9") << m << 62 << 9 << u"baud"_s << false << Invalid.arg(9);
        QTest::newRow("count 1") << m << 16 << 1 << u"count"_s << true << u"1"_s;
        QTest::newRow("count 0") << m << 16 << 0 << u"count"_s << false << Invalid.arg(0);
        QTest::newRow("count 13") << m << 16 << 13 << u"count"_s << false << Invalid.arg(13);
        QTest::newRow("thermometer off, counts")
            << m << 31 << 0x00 << u"thermometer"_s << true << u"vypnuto, dílky"_s;
        QTest::newRow("thermometer on, counts")
            << m << 31 << 0x80 << u"thermometer"_s << true << u"zapnuto, dílky"_s;
        QTest::newRow("thermometer 0x7F") << m << 31 << 0x7F << u"thermometer"_s << false << Invalid.arg(127);
        QTest::newRow("address 0") << m << 63 << 0 << u"address"_s << true << u"0"_s;
        QTest::newRow("address 255") << m << 63 << 255 << u"address"_s << true << u"255"_s;
    }
    void invalidBytes()
    {
        QFETCH(ModuleModel, model);
        QFETCH(int, offset);
        QFETCH(int, byte);
        QFETCH(QString, key);
        QFETCH(bool, valid);
        QFETCH(QString, text);
        EepromBlock b = factory(model);
        b[std::size_t(offset)] = quint8(byte);
        const ImageField f = *DecodeField(b, model, key);
        QCOMPARE(f.valid, valid);
        QCOMPARE(f.text, text);
    }

    // The constants of worked calibration examples.
    void calibrationConstants()
    {
        EepromBlock b = factory(ModuleModel::RQ3510);
        b[23] = 40, b[24] = 39, b[25] = 16, b[26] = 128;   // gain 10024, offset -16
        b[27] = 248, b[28] = 38, b[29] = 156, b[30] = 127; // gain 9976, offset 32668
        const auto f = byKey(DecodeImage(b, ModuleModel::RQ3510));
        QCOMPARE(f[QStringLiteral("ain.gain")].text, QStringLiteral("10024 (1,0024)"));
        QCOMPARE(f[QStringLiteral("ain.offset")].value, -16);
        QCOMPARE(f[QStringLiteral("thermometer.gain")].value, 9976);
        QCOMPARE(f[QStringLiteral("thermometer.offset")].text, QStringLiteral("32668"));
        EepromBlock c = factory(ModuleModel::RQ3510);
        QVERIFY(EncodeField(c, ModuleModel::RQ3510, QStringLiteral("ain.offset"), QStringLiteral("-16")));
        QCOMPARE(c[25], 16);
        QCOMPARE(c[26], 128);
        QVERIFY(!EncodeField(c, ModuleModel::RQ3510, QStringLiteral("ain.offset"), QStringLiteral("40000")));
    }

    void compareListsChangesInCzech()
    {
        const auto m = ModuleModel::RQ3510;
        const EepromBlock a = factory(m);
        QVERIFY(CompareImages(a, a, m).isEmpty());
        EepromBlock b = a;
        b[63] = 100;
        b[62] = 0;
        b[1] = 8;     // AIN1 cannot measure resistance
        b[33] = 0xDF; // DIN5 not negated
        b[41] = 0x80; // DOUT31 on at power-up
        b[300] = 7;
        b[511] = 1;
        QStringList texts;
        for (const FieldChange &c : CompareImages(a, b, m))
            texts << c.text();
        QCOMPARE(texts, (QStringList{u"Adresa modulu: 1 → 100"_s, u"Komunikační rychlost: 9600 Bd → 600 Bd"_s,
                                     u"AIN1: +/- 2 V → neplatná hodnota 8"_s, u"Negace DIN5: ano → ne"_s,
                                     u"Počáteční stav DOUT31: vypnuto → zapnuto"_s,
                                     u"Ostatní bajty: liší se 2 bajty"_s}));
    }

    // Changed bytes at the edges of a field's neighbours: each is named by
    // the field that holds it, and only there.
    void compareNamesTheByte_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::addColumn<QList<int>>("changed");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QList<int>>("offsets"); // of every change, in order
        const auto a = ModuleModel::RQ3510, c = ModuleModel::RQ3530;
        QTest::newRow("gain, high byte")
            << a << QList<int>{24} << QStringList{u"ain.gain"_s} << QList<int>{24};
        QTest::newRow("both bytes of a gain")
            << a << QList<int>{23, 24} << QStringList{u"ain.gain"_s} << QList<int>{23, 24};
        QTest::newRow("other around the count")
            << a << QList<int>{15, 16, 17} << QStringList{u"other"_s} << QList<int>{15, 16, 17};
        QTest::newRow("RQ-3530 inputs 6 and 11 are other")
            << c << QList<int>{5, 6, 11} << QStringList{u"ain5"_s, u"other"_s} << QList<int>{5, 6, 11};
        QTest::newRow("page ends") << a << QList<int>{255, 256, 511} << QStringList{u"other"_s}
                                   << QList<int>{255, 256, 511};
        QTest::newRow("a byte of digital bits")
            << a << QList<int>{41} << QStringList{u"dout24.initial"_s} << QList<int>{41};
    }
    void compareNamesTheByte()
    {
        QFETCH(ModuleModel, model);
        QFETCH(QList<int>, changed);
        const EepromBlock a = factory(model);
        EepromBlock b = a;
        for (int o : changed)
            b[std::size_t(o)] ^= 0x01;
        QStringList keys;
        QList<int> offsets;
        for (const FieldChange &ch : CompareImages(a, b, model)) {
            keys << ch.key;
            offsets << ch.offsets;
        }
        QTEST(keys, "keys");
        QTEST(offsets, "offsets");
    }

    void encodeTexts_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("offset");
        QTest::addColumn<int>("byte"); // -1: refused
        const auto a = ModuleModel::RQ3510, b = ModuleModel::RQ3520, c = ModuleModel::RQ3530;
        QTest::newRow("address") << a << u"address"_s << u"100"_s << 63 << 100;
        QTest::newRow("address hex") << a << u"ADDRESS"_s << u"$1F"_s << 63 << 31;
        QTest::newRow("address 256") << a << u"address"_s << u"256"_s << 63 << -1;
        QTest::newRow("baud rate") << a << u"baud"_s << u"600"_s << 62 << 0;
        QTest::newRow("baud item") << a << u"baud"_s << u"115200 Bd"_s << 62 << 8;
        QTest::newRow("baud not a rate") << a << u"baud"_s << u"4"_s << 62 << -1;
        QTest::newRow("range item") << a << u"ain0"_s << u"500 OHM"_s << 0 << 8;
        QTest::newRow("odd input refuses ohms") << a << u"ain1"_s << u"500 ohm"_s << 1 << -1;
        QTest::newRow("thermocouple") << b << u"ain11"_s << u"TC typ K"_s << 11 << 10;
        QTest::newRow("3530 packed") << c << u"ain2"_s << u"Pt100 (0.00385), °C, 3 vodiče"_s << 2 << 0x64;
        QTest::newRow("3530 KTY10") << c << u"ain5"_s << u" KTY10 , °F , 2 vodiče"_s << 5 << 0x38;
        QTest::newRow("3530 no AIN6") << c << u"ain6"_s << u"5 kohm, ohm, 4 vodiče"_s << 6 << -1;
        QTest::newRow("count") << b << u"count"_s << u"5"_s << 16 << 5;
        QTest::newRow("count on 3510") << a << u"count"_s << u"5"_s << 16 << -1;
        QTest::newRow("count 13") << b << u"count"_s << u"13"_s << 16 << -1;
        QTest::newRow("thermometer") << a << u"thermometer"_s << u"vypnuto, °C"_s << 31 << 0x01;
        QTest::newRow("thermometer 0x7F") << a << u"thermometer"_s << u"127"_s << 31 << -1;
        QTest::newRow("din negation off") << a << u"din5.negation"_s << u"ne"_s << 33 << 0xDF;
        QTest::newRow("dout negation 0") << a << u"dout8.negation"_s << u"0"_s << 37 << 0xFE;
        QTest::newRow("dout initial on") << a << u"dout31.initial"_s << u"zapnuto"_s << 41 << 0x80;
        QTest::newRow("bit nonsense") << a << u"dout31.initial"_s << u"snad"_s << 41 << -1;
        QTest::newRow("gain") << a << u"thermometer.gain"_s << u"9976"_s << 27 << 248;
        QTest::newRow("other") << a << u"other"_s << u"0"_s << 300 << -1;
        QTest::newRow("unknown key") << a << u"dout32.initial"_s << u"1"_s << 0 << -1;
    }
    void encodeTexts()
    {
        QFETCH(ModuleModel, model);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(int, offset);
        QFETCH(int, byte);
        const EepromBlock before = factory(model);
        EepromBlock block = before;
        QString error;
        QCOMPARE(EncodeField(block, model, key, value, &error), byte >= 0);
        if (byte < 0) {
            QVERIFY(block == before);
            QVERIFY(!error.isEmpty());
            return;
        }
        QCOMPARE(block[std::size_t(offset)], quint8(byte));
        block[std::size_t(offset)] = before[std::size_t(offset)];
        if (key != u"thermometer.gain"_s)
            QVERIFY(block == before); // nothing else changed
        // Choices are accepted as they are listed.
        for (const QString &choice : FieldChoices(model, key)) {
            EepromBlock c = before;
            QVERIFY2(EncodeField(c, model, key, choice), qPrintable(choice));
            QCOMPARE(DecodeField(c, model, key)->text, choice);
        }
    }

    void modelOfIdentity_data()
    {
        QTest::addColumn<QString>("identity");
        QTest::addColumn<int>("model"); // -1: none
        QTest::newRow("identity") << u"RQ-3510  v.1.08"_s << int(ModuleModel::RQ3510);
        QTest::newRow("name") << u"RQ-3530"_s << int(ModuleModel::RQ3530);
        QTest::newRow("number") << u"3520"_s << int(ModuleModel::RQ3520);
        QTest::newRow("other model") << u"RQ-3540  v.1.00"_s << -1;
        QTest::newRow("longer number") << u"35100"_s << -1;
        QTest::newRow("empty") << u""_s << -1;
    }
    void modelOfIdentity()
    {
        QFETCH(QString, identity);
        QFETCH(int, model);
        const std::optional<ModuleModel> m = ModelOfIdentity(identity);
        QCOMPARE(m ? int(*m) : -1, model);
    }

    // Another model's backup whose every byte the connected model takes:
    // its name or its content gives it away.
    void otherModelsBackup_data()
    {
        QTest::addColumn<ModuleModel>("fileModel");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QStringList>("risks");
        QTest::newRow("named RQ-3520")
            << ModuleModel::RQ3520 << u"/z/rq-3520_a1_2026-12-07.kee"_s << u"RQ-3510  v.1.08"_s
            << QStringList{u"Název souboru patří modelu RQ-3520 (rq-3520_a1_2026-12-07.kee), "_s
                           u"připojen je RQ-3510"_s};
        QTest::newRow("RQ-3510 content")
            << ModuleModel::RQ3510 << u"zaloha.kee"_s << u"RQ-3530  v.2.01"_s
            << QStringList{u"Obsah souboru odpovídá spíš modelu RQ-3510 nebo RQ-3520 než "_s
                           u"připojenému RQ-3530 (platná nastavení vstupů: 12 proti 6)"_s};
        QTest::newRow("own backup") << ModuleModel::RQ3530 << u"RQ-3530_a1_x.kee"_s << u"RQ-3530  v.2.01"_s
                                    << QStringList{};
    }
    void otherModelsBackup()
    {
        QFETCH(ModuleModel, fileModel);
        QFETCH(QString, fileName);
        QFETCH(QString, identity);
        QTEST(RestoreRisks(factory(fileModel), 512, fileName, 1, 9600, identity), "risks");
    }

    // An RQ-3530's backup in an RQ-3510: every sensor byte is foreign.
    void crossModelBackup()
    {
        EepromBlock b = factory(ModuleModel::RQ3530);
        b[63] = 4;
        QCOMPARE(RestoreRisks(b, 512, QString(), 1, 9600, QStringLiteral("RQ-3510  v.1.08")),
                 (QStringList{u"Adresa modulu: 1 → 4"_s,
                              u"Soubor neodpovídá modelu RQ-3510 (AIN0, AIN1, AIN2, AIN3, "_s
                              u"AIN4, AIN5)"_s}));
        QCOMPARE(ModelsFitting(b), QList<ModuleModel>{ModuleModel::RQ3530});
        // Without a known model only the address is at risk.
        QCOMPARE(RestoreRisks(b, 512, QString(), 1, 9600, QString()), QStringList{u"Adresa modulu: 1 → 4"_s});
        QVERIFY(RestoreQuestion({u"Adresa modulu: 1 → 4"_s}).contains(u"přestane odpovídat"_s));
    }

    // A plant file is taken whole or not at all; the line and key say where.
    void plantFileParse_data()
    {
        QTest::addColumn<QString>("module"); // the lines of one module section
        QTest::addColumn<int>("line");       // of the fault, 0: taken
        QTest::addColumn<QString>("key");
        const QString head = u"[gateway]\nmodbus=127.0.0.1:1502\nconverter-writes=yes\n[bus]\nadapter=lan\n"
                             u"ip=127.0.0.1\nbaud=9600\n[module a1]\n"_s; // 8 lines
        QTest::newRow("settings of the model") << head + u"address=1\nmodel=RQ-3510\nain0=+/- 1 V\n"
                                                         u"thermometer=zapnuto, °C\ndin3.negation=ano\n"_s
                                               << 0 << QString();
        QTest::newRow("gateway's own keys")
            << head + u"address=1\nunit=4\ninterval=500\n"_s << 0 << QString();
        QTest::newRow("no model: a key some model has") << head + u"address=1\ncount=5\n"_s << 0 << QString();
        QTest::newRow("3530 sensor with commas")
            << head + u"address=1\nmodel=3530\nain2=Pt100 (0.00385), °C, 3 vodiče\n"_s << 0 << QString();
        QTest::newRow("unknown key") << head + u"address=1\nain0.range=1\n"_s << 10 << u"ain0.range"_s;
        QTest::newRow("key of another model")
            << head + u"address=1\nmodel=RQ-3510\ncount=5\n"_s << 11 << u"count"_s;
        QTest::newRow("3530 has six inputs")
            << head + u"address=1\nmodel=RQ-3530\nain6=5 kohm, ohm, 4 vodiče\n"_s << 11 << u"ain6"_s;
        QTest::newRow("value the model refuses")
            << head + u"address=1\nmodel=RQ-3510\nain1=500 ohm\n"_s << 11 << u"ain1"_s;
        QTest::newRow("value no model takes")
            << head + u"address=1\ndin0.negation=snad\n"_s << 10 << u"din0.negation"_s;
        QTest::newRow("calibration is the hardware's")
            << head + u"address=1\nain.gain=10000\n"_s << 10 << u"ain.gain"_s;
        QTest::newRow("memory's address byte") << head + u"address=1\nother=0\n"_s << 10 << u"other"_s;
        QTest::newRow("key twice") << head + u"address=1\nain0=+/- 1 V\nain0=+/- 2 V\n"_s << 11 << u"ain0"_s;
        QTest::newRow("unknown model") << head + u"address=1\nmodel=RQ-3540\n"_s << 10 << u"model"_s;
        QTest::newRow("no address") << head + u"ain0=+/- 1 V\n"_s << 8 << u"address"_s;
        QTest::newRow("one module twice")
            << head + u"address=1\n[module a2]\naddress=1\nbaud=9600\n"_s << 10 << u"address"_s;
        QTest::newRow("one address at two rates")
            << head + u"address=1\n[module a2]\naddress=1\nbaud=19200\n"_s << 0 << QString();
        QTest::newRow("not UTF-8") << head + QString::fromLatin1("address=1\nain0=\xb1 1 V\n") << 10
                                   << QString();
        QTest::newRow("line without =") << head + u"address=1\nain0\n"_s << 10 << QString();
    }
    void plantFileParse()
    {
        QFETCH(QString, module);
        QFETCH(int, line);
        QFETCH(QString, key);
        QByteArray text = module.toUtf8();
        if (QTest::currentDataTag() == QByteArray("not UTF-8"))
            text = module.toLatin1();
        PlantFile plant;
        plant.modules << PlantModule{};
        const std::optional<PlantError> e = ParsePlantFile(text, plant);
        QCOMPARE(e ? e->line : 0, line);
        if (!e) {
            QCOMPARE(plant.gatewayValue(u"converter-writes"_s), u"yes"_s);
            QCOMPARE(plant.baud(), 9600u);
            return;
        }
        QCOMPARE(e->key, key);
        QVERIFY(!e->reason.isEmpty());
        QCOMPARE(plant.modules.size(), 1); // nothing kept of a file that fails
    }

    // What a section sets: only the bytes and bits its keys name.
    void plantChanges_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QList<int>>("read");
        QTest::addColumn<QList<int>>("changed");
        const auto a = ModuleModel::RQ3510, b = ModuleModel::RQ3520, c = ModuleModel::RQ3530;
        QTest::newRow("as the module has it")
            << a << u"ain0=+/- 2 V\nthermometer=zapnuto, °C\n"_s << QList<int>{0, 31} << QList<int>{};
        QTest::newRow("two keys") << a << u"ain0=+/- 1 V\nain11=+/- 50 mV\n"_s << QList<int>{0, 11}
                                  << QList<int>{0, 11};
        QTest::newRow("one bit of a byte")
            << b << u"din3.negation=ne\ndin4.negation=ano\n"_s << QList<int>{33} << QList<int>{33};
        QTest::newRow("count") << b << u"count=4\n"_s << QList<int>{16} << QList<int>{16};
        QTest::newRow("3530 sensor") << c << u"ain5=KTY10, °F, 2 vodiče\n"_s << QList<int>{5}
                                     << QList<int>{5};
        QTest::newRow("initial outputs") << c << u"dout9.initial=vypnuto\ndout17.initial=zapnuto\n"_s
                                         << QList<int>{35, 38} << QList<int>{38};
    }
    void plantChanges()
    {
        QFETCH(ModuleModel, model);
        QFETCH(QString, settings);
        QList<PlantSetting> list;
        for (const QString &l : settings.split(u'\n', Qt::SkipEmptyParts))
            list << PlantSetting{l.section(u'=', 0, 0), l.section(u'=', 1), 0};
        QVERIFY(!CheckPlantSettings(model, list));
        const QList<int> read = PlantOffsets(model, list);
        QTEST(read, "read");
        const EepromBlock before = factory(model);
        EepromBlock after = before;
        QVERIFY(ApplyPlantSettings(after, model, list));
        QTEST(ChangedOffsets(before, after, read), "changed");
        for (int o = 0; o < EepromFileSize; ++o)
            if (!read.contains(o))
                QCOMPARE(after[std::size_t(o)], before[std::size_t(o)]);
    }

    // An exported section read back asks for nothing; filling a file in
    // keeps what people wrote around the settings.
    void plantExportRoundTrip_data()
    {
        QTest::addColumn<ModuleModel>("model");
        QTest::newRow("RQ-3510") << ModuleModel::RQ3510;
        QTest::newRow("RQ-3520") << ModuleModel::RQ3520;
        QTest::newRow("RQ-3530") << ModuleModel::RQ3530;
    }
    void plantExportRoundTrip()
    {
        QFETCH(ModuleModel, model);
        EepromBlock module = factory(model);
        module[3] = model == ModuleModel::RQ3530 ? 0x64 : 2;
        module[4] = 0xEE; // a value no model knows stays the module's
        const QByteArray original =
            "; the boiler house\n[bus]\nbaud=9600\n\n[module kotel]\naddress=1\n"
            "; by the door\nunit=3\nmodel=RQ-3510\nain0=+/- 1 V\n\n[module b]\naddress=2\n";
        PlantFile plant;
        QVERIFY(!ParsePlantFile(original, plant));
        const QStringList lines = PlantSettingLines(module, model);
        const QByteArray filled = FillPlantFile(original, plant, {lines, {}});
        QVERIFY2(!ParsePlantFile(filled, plant), filled.constData());
        QVERIFY(filled.startsWith("; the boiler house\n[bus]\nbaud=9600\n\n[module kotel]\naddress=1\n"
                                  "; by the door\nunit=3\nmodel="));
        QVERIFY(filled.endsWith("\n\n[module b]\naddress=2\n"));
        QVERIFY(!filled.contains("ain0=+/- 1 V\n") || model != ModuleModel::RQ3510);
        QCOMPARE(plant.modules.at(0).model, model);
        QCOMPARE(plant.modules.at(0).settings.size(), PlantKeys(model).size() - 1); // ain7 only as a comment
        EepromBlock after = module;
        QVERIFY(ApplyPlantSettings(after, model, plant.modules.at(0).settings));
        QVERIFY(after == module);
        // Filled in again: the same text.
        QCOMPARE(FillPlantFile(filled, plant, {lines, {}}), filled);
    }
};

QTEST_GUILESS_MAIN(TestObraz)
#include "tst_obraz.moc"
