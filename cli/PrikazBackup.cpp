// backup: the configuration memory into a .kee file, or every module of a
// list into a folder, one file each.
#include "cli/Kontext.h"
#include "comm/Spojeni.h"
#include "drivers/ErrorCodes.h"
#include "scan/HledaniModulu.h"

#include <QDir>
#include <QFileInfo>

namespace {

// A file name that tells modules apart, never one already there.
QString backupName(const QDir &dir, const QString &model, int address)
{
    const QString first = BackupFileName(model, address);
    QString name = first;
    for (int n = 2; QFileInfo::exists(dir.filePath(name)); ++n)
        name = QStringLiteral("%1_%2.kee").arg(first.chopped(4)).arg(n);
    return dir.filePath(name);
}

class Backup final : public Command
{
public:
    QString name() const override { return QStringLiteral("backup"); }
    QString synopsis() const override { return QStringLiteral("backup SOUBOR|SLOŽKA|-"); }
    QString summary() const override
    {
        return QStringLiteral("uloží 512 bajtů konfigurační paměti do souboru; se seznamem adres "
                              "(--address 1-32) každý modul do složky");
    }
    int minArgs() const override { return 1; }
    int maxArgs() const override { return 1; }

    int execute(Context &c) const override
    {
        const QString target = Context::dashName(c.args.positional.at(0));
        QList<quint8> addresses{c.data.moduleAddress};
        // A list or a range means a folder, whatever it expands to; one
        // address means a file.
        bool list = false;
        if (c.args.has(QStringLiteral("address"))) {
            const QString text = c.args.value(QStringLiteral("address"));
            QString why;
            const auto parsed = ParseAddressList(text, &why);
            if (!parsed || parsed->isEmpty())
                c.fail(ExitCode::Usage, QStringLiteral("Neplatný seznam adres „%1“: %2").arg(text, why));
            addresses = *parsed;
            list = text.contains(QLatin1Char(',')) || text.trimmed().mid(1).contains(QLatin1Char('-'));
        }
        if (target == QLatin1String("-")) {
            if (list)
                c.fail(ExitCode::Usage,
                       QStringLiteral("Na standardní výstup jde záloha jednoho modulu; seznam "
                                      "adres „%1“ patří do složky.")
                           .arg(c.args.value(QStringLiteral("address"))));
            if (c.json)
                c.fail(ExitCode::Usage,
                       QStringLiteral("Zálohu na standardní výstup nelze spojit s volbou --json."));
            c.refuseBinaryOnTerminal();
            return single(c, target, addresses.first());
        }
        const QFileInfo info(target);
        if (!list && !info.isDir() && !target.endsWith(QLatin1Char('/')))
            return single(c, target, addresses.first());
        if (list && info.exists() && !info.isDir())
            c.fail(ExitCode::Usage,
                   QStringLiteral("Seznam adres ukládá do složky, ale %1 je soubor.").arg(target));
        return fleet(c, target, addresses);
    }

private:
    static int single(Context &c, const QString &target, quint8 address)
    {
        c.connectModule(address);
        const EepromBlock block = c.readModule();
        const QString model = ModelNameOfIdentity(c.data.identity);
        if (target == QLatin1String("-")) {
            if (!c.out.write(QByteArray(reinterpret_cast<const char *>(block.data()), EepromFileSize)))
                c.fail(ExitCode::File, c.out.error());
            return ExitCode::Ok;
        }
        QString why;
        // SaveEepromFile writes into a device or FIFO and never replaces it.
        if (!SaveEepromFile(target, block, &why))
            c.fail(ExitCode::File, QStringLiteral("Chyba ukládání dat do souboru %1: %2").arg(target, why));
        c.result = {{QStringLiteral("file"), target},
                    {QStringLiteral("address"), c.data.moduleAddress},
                    {QStringLiteral("model"), model},
                    {QStringLiteral("identity"), c.data.identity}};
        c.line(QStringLiteral("%1 (adresa %2): konfigurace uložena do %3")
                   .arg(model)
                   .arg(c.data.moduleAddress)
                   .arg(target));
        return ExitCode::Ok;
    }

    // The folder and any missing folders above it; those made are listed,
    // the deepest last, so that a run that saves nothing removes them again.
    static QStringList makeFolder(Context &c, const QString &target)
    {
        QStringList made;
        for (QString f = QDir::cleanPath(QFileInfo(target).absoluteFilePath()); !QFileInfo::exists(f);
             f = QFileInfo(f).absolutePath())
            made.prepend(f);
        if (!QDir().mkpath(target))
            c.fail(ExitCode::File, QStringLiteral("Složku %1 nelze vytvořit.").arg(target));
        return made;
    }

    static int fleet(Context &c, const QString &target, const QList<quint8> &addresses)
    {
        const QStringList made = makeFolder(c, target);
        const QDir dir(target);
        const auto unmake = [&made] {
            for (auto it = made.crbegin(); it != made.crend(); ++it)
                QDir().rmdir(*it);
        };
        // One opening of the adapter serves every module of the list.
        try {
            c.openAdapter();
        } catch (const Failure &) {
            unmake();
            throw;
        }
        QJsonArray saved, failed;
        const auto keep = [&]() {
            c.result = {{QStringLiteral("saved"), saved}, {QStringLiteral("failed"), failed}};
        };
        for (quint8 address : addresses) {
            keep();
            c.stopPoint(QStringLiteral("Zálohování přerušeno: uloženo %1 z %2 modulů.")
                            .arg(saved.size())
                            .arg(addresses.size()));
            c.data.moduleAddress = address;
            QString identity, why;
            if (const quint8 error = IdentifyModule(BusLink::of(c.data), address, identity, why);
                error != 0) {
                // A converter that answers nothing is no list of missing modules.
                if (error == AdapterError::Timeout && saved.isEmpty() && c.converterSilent()) {
                    c.result = {};
                    unmake();
                    c.fail(ExitCode::Comm, c.errorText(error));
                }
                why = c.errorText(error);
                failed.append(
                    QJsonObject{{QStringLiteral("address"), address}, {QStringLiteral("error"), why}});
                // Standard output carries the saved files only.
                c.err.write(QStringLiteral("rqtool: adresa %1: neodpovídá (%2)\n").arg(address).arg(why));
                continue;
            }
            c.data.identity = identity;
            const QString model = ModelNameOfIdentity(identity);
            EepromBlock block{};
            try {
                block = c.readModule();
            } catch (const Failure &f) {
                if (f.code != ExitCode::Comm)
                    throw;
                failed.append(QJsonObject{{QStringLiteral("address"), address},
                                          {QStringLiteral("model"), model},
                                          {QStringLiteral("error"), f.text}});
                c.err.write(QStringLiteral("rqtool: adresa %1: %2 nezálohován (%3)\n")
                                .arg(address)
                                .arg(model, f.text));
                continue;
            }
            const QString path = backupName(dir, model, address);
            // A folder that takes no file takes none for the next module either.
            if (!SaveEepromFile(path, block, &why))
                c.fail(ExitCode::File, QStringLiteral("Chyba ukládání dat do souboru %1: %2").arg(path, why));
            saved.append(QJsonObject{{QStringLiteral("address"), address},
                                     {QStringLiteral("model"), model},
                                     {QStringLiteral("identity"), identity},
                                     {QStringLiteral("file"), path}});
            c.line(QStringLiteral("adresa %1: %2 uložen do %3").arg(address).arg(model, path));
        }
        keep();
        c.note(QStringLiteral("Zálohováno %1 z %2 modulů.").arg(saved.size()).arg(addresses.size()));
        if (saved.isEmpty()) {
            unmake();
            c.fail(ExitCode::Comm, QStringLiteral("Neodpověděl žádný z %1 modulů.").arg(addresses.size()));
        }
        // Some modules missing, every other one saved: a sparse bus.
        if (!failed.isEmpty())
            c.fail(ExitCode::Partial,
                   QStringLiteral("Nezálohováno %1 z %2 modulů.").arg(failed.size()).arg(addresses.size()));
        return ExitCode::Ok;
    }
};
} // namespace

const Command &BackupCommand()
{
    static const Backup command;
    return command;
}
