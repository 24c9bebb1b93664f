#include "core/Cislo.h"

#include <QTest>

#include <cmath>

// Decimal numbers as typed, in the locales the tool meets: the locale's
// decimal separator only, never a group separator.
class TestCislo : public QObject
{
    Q_OBJECT

private slots:
    // Czech counts in the nominative.
    void czechCount_data()
    {
        QTest::addColumn<qint64>("n");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << qint64(0) << QStringLiteral("0 bajtů");
        QTest::newRow("1") << qint64(1) << QStringLiteral("1 bajt");
        QTest::newRow("2") << qint64(2) << QStringLiteral("2 bajty");
        QTest::newRow("4") << qint64(4) << QStringLiteral("4 bajty");
        QTest::newRow("5") << qint64(5) << QStringLiteral("5 bajtů");
        QTest::newRow("22 (whole number decides, not its last digit)")
            << qint64(22) << QStringLiteral("22 bajtů");
        QTest::newRow("512") << qint64(512) << QStringLiteral("512 bajtů");
    }
    void czechCount()
    {
        QFETCH(qint64, n);
        QFETCH(QString, text);
        QCOMPARE(CzechCount(n, QStringLiteral("bajt"), QStringLiteral("bajty"), QStringLiteral("bajtů")),
                 text);
    }

    void parseDecimalText_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("number");
        QTest::addColumn<double>("value");
        const double none = std::nan("");
        const auto row = [](const char *locale, const QString &text, bool number, double value) {
            QTest::addRow("%s \"%s\"", locale, qPrintable(text))
                << QString::fromLatin1(locale) << text << number << value;
        };
        {
            const char *cs = "cs_CZ";
            row(cs, QStringLiteral("0,05"), true, 0.05);
            row(cs, QStringLiteral(" 0,05 "), true, 0.05);
            row(cs, QStringLiteral("-0,05"), true, -0.05);
            row(cs, QStringLiteral("20"), true, 20);
            row(cs, QStringLiteral("1000,5"), true, 1000.5);
            row(cs, QStringLiteral("5e-2"), true, 0.05);
            row(cs, QStringLiteral("0.05"), false, none);
            row(cs, QStringLiteral("1 000,5"), false, none);
            row(cs, QStringLiteral("1\u00A0000,5"), false, none);
            row(cs, QStringLiteral("1\u202F000,5"), false, none);
            row(cs, QStringLiteral("0,05 V"), false, none);
            row(cs, QString(), false, none);
            row(cs, QStringLiteral("abc"), false, none);
            row(cs, QStringLiteral("nan"), false, none);
            row(cs, QStringLiteral("inf"), false, none);
            row(cs, QStringLiteral("1e999"), false, none);
        }
        row("en_US", QStringLiteral("0.045"), true, 0.045);
        row("en_US", QStringLiteral("1000.5"), true, 1000.5);
        row("en_US", QStringLiteral("0,045"), false, none);
        row("en_US", QStringLiteral("1,000.5"), false, none);
        row("en_US", QStringLiteral("1 000.5"), false, none);
        row("de_DE", QStringLiteral("0,045"), true, 0.045);
        row("de_DE", QStringLiteral("0.045"), false, none);
        row("de_DE", QStringLiteral("1.000,5"), false, none);
        row("de_DE", QStringLiteral("1.000"), false, none);
    }
    void parseDecimalText()
    {
        QFETCH(QString, locale);
        QFETCH(QString, text);
        QFETCH(bool, number);
        QFETCH(double, value);
        const std::optional<double> parsed = ParseDecimalText(text, QLocale(locale));
        QCOMPARE(parsed.has_value(), number);
        if (number)
            QCOMPARE(*parsed, value);
    }

    // Without a locale given, the default one counts.
    void defaultLocale()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(ParseDecimalText(QStringLiteral("0,5")), std::optional<double>(0.5));
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(ParseDecimalText(QStringLiteral("0,5")), std::nullopt);
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_APPLESS_MAIN(TestCislo)
#include "tst_cislo.moc"
