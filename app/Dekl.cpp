#include "app/Dekl.h"

#include "core/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

TCFGRQ::TCFGRQ()
{
    ResetCFG(*this);
}

void ResetCFG(TCFGRQ &cfg)
{
    cfg.configuredAddress = 1;
    cfg.configuredBaudIndex = 4;
    cfg.ranges3510.fill(6);     // +/- 2 V
    cfg.ranges3520.fill(4);     // +/- 500 mV
    cfg.sensors3530.fill(0x83); // 5 kohm, ohm, 4 wires
    cfg.thermometer = 0x81;     // on, °C
    cfg.inputCount = 12;
    cfg.dinNegation.fill(0xFF);
    cfg.doutNegation.fill(0xFF);
    cfg.doutInitial.fill(0x00);
    cfg.eeprom.fill(0);
    cfg.eepromFileName = DefaultEepromFileName;
}

void SetDefaults(TData *data)
{
    if (!data)
        return;
    data->adapterKind = 0;
    data->moduleAddress = 0;
    data->baudRate = 9600;
    data->isaBase = 0x300;
    data->comPort = 1;
    data->ipAddress = DefaultIpAddress;
    data->udpPort = 5000;
    data->udpTimeout = 100;
    data->statusText = DefaultStatusText;
    data->handle = 0;
    data->connected = false;
    data->identity.clear();
    data->lastEepromFile.clear();
    data->initBlock.fill(0);
    data->ipAddress8bit.clear();
    ResetCFG(data->cfg);
}

QString ModelNameOfIdentity(const QString &identity)
{
    return identity.left(8).trimmed();
}

namespace {
constexpr quint32 BaudRates[9] = {600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
}

quint32 BaudRateOfIndex(int index)
{
    return index >= 0 && index < 9 ? BaudRates[index] : 9600;
}

int BaudIndexOfRate(quint32 rate)
{
    for (int i = 0; i < 9; ++i)
        if (BaudRates[i] == rate)
            return i;
    return 4;
}

quint32 ReplyTimeoutOfRate(quint32 rate)
{
    switch (rate) {
    case 600:
        return 1000;
    case 1200:
    case 2400:
        return 500;
    default:
        return 200;
    }
}

QString SettingsFilePath()
{
    const QString dir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return dir + QStringLiteral("/W_rq3510.ini");
}

QString SettingsLocation::readPath() const
{
    return seed.isEmpty() || QFileInfo::exists(path) ? path : seed;
}

SettingsLocation FindSettingsLocation(const QString &programDir, const QString &configHome)
{
    const QString beside = QDir(programDir).filePath(QStringLiteral("W_rq3510.ini"));
    const QFileInfo file(beside);
    if (QFileInfo(programDir).isWritable() || (file.isFile() && file.isWritable()))
        return {beside, QString(), false};
    const QString own = QDir(configHome).filePath(QStringLiteral("W_RQ3510/W_rq3510.ini"));
    return {own, file.exists() ? beside : QString(), true};
}

SettingsLocation FindSettingsLocation()
{
    const QString programDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QDir::currentPath();
    return FindSettingsLocation(programDir,
                                QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
}

namespace {
const QString SecConnection = QStringLiteral("Připojení");
const QString SecCom = QStringLiteral("COMx");
const QString SecIsa = QStringLiteral("PCI-638");
const QString SecLan = QStringLiteral("RQ-4638");
const QString KeyInterface = QStringLiteral("Rozhraní");
const QString KeyAddress = QStringLiteral("Adresa");
const QString KeyBaud = QStringLiteral("Rychlost");
const QString KeyComPort = QStringLiteral("Číslo portu");
const QString KeyIsaBase = QStringLiteral("Bázová adresa");
const QString KeyIp = QStringLiteral("IP adresa");
const QString KeyUdpPort = QStringLiteral("UDP port");
const QString KeyUdpTimeout = QStringLiteral("UDP timeout");
// Interface names by adapter kind; the comparison on loading is exact.
const QString InterfaceNames[5] = {QStringLiteral("COMx"), QStringLiteral("PCI-638"),
                                   QStringLiteral("PCI-4638"), QStringLiteral("USB-4638"),
                                   QStringLiteral("RQ-4638")};
} // namespace

bool LoadSettings(TData *data, const QString &path)
{
    if (!data)
        return false;
    const IniFile ini(path);
    // "jkl" marks a missing key, as it always has.
    const QString name = ini.readString(SecConnection, KeyInterface, QStringLiteral("jkl"));
    if (name == QLatin1String("jkl"))
        return false;
    data->moduleAddress = static_cast<quint8>(ini.readInt(SecConnection, KeyAddress, data->moduleAddress));
    data->baudRate =
        static_cast<quint32>(ini.readInt(SecConnection, KeyBaud, static_cast<qint32>(data->baudRate)));
    data->isaBase = static_cast<quint16>(ini.readInt(SecIsa, KeyIsaBase, data->isaBase));
    data->comPort = static_cast<quint8>(ini.readInt(SecCom, KeyComPort, data->comPort));
    data->ipAddress = ini.readString(SecLan, KeyIp, data->ipAddress);
    data->udpPort = static_cast<quint32>(ini.readInt(SecLan, KeyUdpPort, static_cast<qint32>(data->udpPort)));
    data->udpTimeout =
        static_cast<quint32>(ini.readInt(SecLan, KeyUdpTimeout, static_cast<qint32>(data->udpTimeout)));
    for (quint8 kind = 0; kind < 5; ++kind)
        if (name == InterfaceNames[kind])
            data->adapterKind = kind;
    return true;
}

bool LoadSettings(TData *data, const SettingsLocation &location)
{
    return LoadSettings(data, location.readPath());
}

bool SaveSettings(const TData *data, const QString &path, QString *error)
{
    return SaveSettings(data, SettingsLocation{path, QString(), false}, error);
}

bool SaveSettings(const TData *data, const SettingsLocation &location, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (!data)
        return fail(QStringLiteral("Chybí datová struktura programu."));
    IniFile ini(location.readPath());
    if (!ini.readWhole()) {
        // Written from what was read, the file would lose the rest.
        if (ini.path() == location.path)
            return fail(QStringLiteral("Soubor %1 se nepodařilo přečíst celý, proto zůstává beze změny.")
                            .arg(QDir::toNativeSeparators(location.path)));
        ini = IniFile(QString()); // an unreadable starting point is no starting point
    }
    ini.setPath(location.path);
    if (location.makeFolder && !QDir().mkpath(QFileInfo(location.path).absolutePath()))
        return fail(QStringLiteral("Složku %1 nelze vytvořit.")
                        .arg(QDir::toNativeSeparators(QFileInfo(location.path).absolutePath())));
    switch (data->adapterKind) {
    case 1:
        ini.writeString(SecConnection, KeyInterface, InterfaceNames[1]);
        ini.writeInt(SecIsa, KeyIsaBase, data->isaBase);
        break;
    case 2:
    case 3:
        ini.writeString(SecConnection, KeyInterface, InterfaceNames[data->adapterKind]);
        break;
    case 4:
        ini.writeString(SecConnection, KeyInterface, InterfaceNames[4]);
        ini.writeString(SecLan, KeyIp, data->ipAddress);
        ini.writeInt(SecLan, KeyUdpPort, static_cast<qint32>(data->udpPort));
        ini.writeInt(SecLan, KeyUdpTimeout, static_cast<qint32>(data->udpTimeout));
        break;
    default: // 0 and anything out of range
        ini.writeString(SecConnection, KeyInterface, InterfaceNames[0]);
        ini.writeInt(SecCom, KeyComPort, data->comPort);
        break;
    }
    ini.writeInt(SecConnection, KeyAddress, data->moduleAddress);
    // As a signed number, the only form the integer rule reads back in all 32 bits.
    ini.writeInt(SecConnection, KeyBaud, static_cast<qint32>(data->baudRate));
    return ini.save(error);
}
