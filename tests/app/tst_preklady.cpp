// Qt's own texts follow the system's language, and the file selection
// dialog's "all files" lists every file.
#include "app/Dekl.h"
#include "app/Preklady.h"
#include "dio/KonfigEEPROM.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

#include <memory>

class TestPreklady : public QObject
{
    Q_OBJECT

private slots:
    void qtTextsFollowTheLocale_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("cancel");
        QTest::addColumn<QString>("name");
        QTest::newRow("Czech") << QLocale(QLocale::Czech, QLocale::Czechia) << QStringLiteral("Zrušit")
                               << QStringLiteral("Název");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany) << QStringLiteral("Abbrechen")
                                << QStringLiteral("Name");
        QTest::newRow("English: Czech, as the program")
            << QLocale(QLocale::English, QLocale::UnitedStates) << QStringLiteral("Zrušit")
            << QStringLiteral("Název");
    }
    void qtTextsFollowTheLocale()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, cancel);
        QFETCH(QString, name);
        std::unique_ptr<QTranslator> translator(InstallQtTranslation(*qApp, locale));
        QVERIFY(translator);
        QDialogButtonBox buttons(QDialogButtonBox::Cancel);
        QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), cancel);
        // The file dialog's first column.
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        auto *view = dialog.findChild<QAbstractItemView *>(QStringLiteral("treeView"));
        QVERIFY(view);
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), name);
    }

    // "Všechny soubory (*.*)" lists files without an extension too.
    void allFilesListsNamesWithoutDot()
    {
        QTemporaryDir dir;
        for (const char *name : {"zaloha.kee", "bez_pripony", "jiny.txt"}) {
            QFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        TForm5 form;
        QFileDialog *dialog = form.openDialog();
        auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
        QVERIFY(types);
        QCOMPARE(types->count(), 2);
        dialog->setDirectory(dir.path());
        auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        QVERIFY(list);
        const auto shown = [list] {
            QStringList names;
            const QModelIndex root = list->rootIndex();
            for (int r = 0; r < list->model()->rowCount(root); ++r)
                names << list->model()->index(r, 0, root).data().toString();
            names.sort();
            return names;
        };
        QTRY_COMPARE(shown(), QStringList{QStringLiteral("zaloha.kee")});
        types->setCurrentIndex(1);
        emit types->activated(1);
        QTRY_COMPARE(shown(), (QStringList{QStringLiteral("bez_pripony"), QStringLiteral("jiny.txt"),
                                           QStringLiteral("zaloha.kee")}));
    }
};

QTEST_MAIN(TestPreklady)
#include "tst_preklady.moc"
