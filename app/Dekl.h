#ifndef RQ_APP_DEKL_H
#define RQ_APP_DEKL_H

#include "core/Cislo.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

// Configuration image: the tool's copy of a module's configuration memory.
// Every settings dialog edits a working copy and hands it back on "Ok".
struct TCFGRQ
{
    quint8 configuredAddress = 1;       // page 0, address 63
    quint8 configuredBaudIndex = 4;     // page 0, address 62 (index into the baud rate table)
    std::array<quint8, 12> ranges3510;  // page 0, addresses 0..11
    std::array<quint8, 12> ranges3520;  // page 0, addresses 0..11
    std::array<quint8, 6> sensors3530;  // page 0, addresses 0..5 (sensor | unit << 4 | wiring << 6)
    quint8 thermometer = 0x81;          // page 0, address 31 (bit 7 on, bit 0 °C)
    quint8 inputCount = 12;             // page 0, address 16 (RQ-3520)
    std::array<quint8, 4> dinNegation;  // page 0, byte k at 33 + 3k
    std::array<quint8, 4> doutNegation; // page 0, byte k at 34 + 3k
    std::array<quint8, 4> doutInitial;  // page 0, byte k at 32 + 3k
    std::array<quint8, 512> eeprom;     // both pages: element i = page i / 256, address i % 256
    QString eepromFileName;

    TCFGRQ();
};

// Memory addresses of the configuration image fields (page 0).
namespace CfgAddr {
constexpr quint8 Ranges = 0;
constexpr quint8 InputCount = 16;
constexpr quint8 AinGainLow = 23;
constexpr quint8 AinGainHigh = 24;
constexpr quint8 AinOffsetLow = 25;
constexpr quint8 AinOffsetHigh = 26;
constexpr quint8 ThermoGainLow = 27;
constexpr quint8 ThermoGainHigh = 28;
constexpr quint8 ThermoOffsetLow = 29;
constexpr quint8 ThermoOffsetHigh = 30;
constexpr quint8 Thermometer = 31;
constexpr quint8 DoutInitial = 32;
constexpr quint8 DinNegation = 33;
constexpr quint8 DoutNegation = 34;
constexpr quint8 BaudIndex = 62;
constexpr quint8 Address = 63;
} // namespace CfgAddr

// Sets every field to its default.
void ResetCFG(TCFGRQ &cfg);

inline const QString DefaultEepromFileName = QStringLiteral("Rq3510.kee");

// Application data record: connection settings, connection state and the
// configuration image. One exists while the program runs; the main window owns it.
struct TData
{
    quint8 adapterKind = 0;   // 0 COMx, 1 PCI-638, 2 PCI-4638, 3 USB-4638, 4 RQ-4638
    quint8 moduleAddress = 0; // bus address every transaction goes to
    quint32 baudRate = 9600;
    quint16 isaBase = 0x300;
    quint8 comPort = 1;
    QString ipAddress;
    quint32 udpPort = 5000;
    quint32 udpTimeout = 100;
    QString statusText;
    quint32 handle = 0; // 0 = no connection
    // How often a transaction that timed out or came back damaged is sent
    // again: 0 (a single try) unless an unattended program asks for more.
    int retries = 0;
    bool connected = false;
    QString identity; // 15 characters after a successful setup
    // The EEPROM file last saved or loaded in this run: new backups are
    // proposed beside it. Not kept in the settings file.
    QString lastEepromFile;
    // Init block for the adapter library. Pointer-sized words, so the address of
    // the IP text (word 0 for the LAN converter) is never cut on 64-bit systems.
    std::array<std::uintptr_t, 16> initBlock{};
    TCFGRQ cfg;

    // The zero-terminated 8-bit IP text that initBlock[0] points at; kept alive
    // here for as long as the library may read it.
    QByteArray ipAddress8bit;

    // Connection ready for transactions: the test every dialog makes first.
    bool ready() const { return connected && handle != 0; }

    // Told after the connection has been opened or closed, whichever window
    // did it (the main window shows the state); may be empty.
    std::function<void()> connectionChanged;
    void notifyConnection() const
    {
        if (connectionChanged)
            connectionChanged();
    }
};

inline const QString DefaultStatusText = QStringLiteral("Připojení modulu dosud neinicializováno");
inline const QString StatusOkText = QStringLiteral("V pořádku");
inline const QString RecordFailedText = QStringLiteral("Nelze vytvořit datové struktury programu");
inline const QString NotConnectedText = QStringLiteral(" Připojení k modulu není inicializováno.");
inline const QString DefaultIpAddress = QStringLiteral("192.168.1.100");

// Writes the defaults into the record. Given no record, does nothing.
void SetDefaults(TData *data);

// Model name of a module identity ("RQ-3510  v.1.08" -> "RQ-3510"): its
// first eight characters without the blanks around them.
QString ModelNameOfIdentity(const QString &identity);

// Baud rate table shared by the connection setup and the address dialog.
quint32 BaudRateOfIndex(int index);       // other indexes give 9600
int BaudIndexOfRate(quint32 rate);        // other rates give 4
quint32 ReplyTimeoutOfRate(quint32 rate); // other rates give 200

// The items of the baud rate lists, in index order.
inline const QStringList BaudItems = {
    QStringLiteral("600 Bd"),   QStringLiteral("1200 Bd"),  QStringLiteral("2400 Bd"),
    QStringLiteral("4800 Bd"),  QStringLiteral("9600 Bd"),  QStringLiteral("19200 Bd"),
    QStringLiteral("38400 Bd"), QStringLiteral("57600 Bd"), QStringLiteral("115200 Bd")};

// The settings file W_rq3510.ini beside the executable.
QString SettingsFilePath();

// Where the settings are kept.
struct SettingsLocation
{
    QString path;            // the file read and written
    QString seed;            // read instead while path does not exist yet; may be empty
    bool makeFolder = false; // path's folder is made on the first save

    // path, or seed while path does not exist.
    QString readPath() const;
};

// Beside the program when its folder, or the settings file already there, may
// be written (portable use, and the build tree). Otherwise W_rq3510.ini in the
// sub-folder W_RQ3510 of the user's configuration folder, starting from the
// file beside the program: an installed program's folder belongs to root.
SettingsLocation FindSettingsLocation(const QString &programDir, const QString &configHome);
// For the running program: its folder, and $XDG_CONFIG_HOME or ~/.config.
SettingsLocation FindSettingsLocation();

// Fills the record from the settings file. False, with nothing changed, without
// a record or when the file holds no interface name.
bool LoadSettings(TData *data, const QString &path = SettingsFilePath());
bool LoadSettings(TData *data, const SettingsLocation &location);

// Writes the record's connection settings into the settings file, keeping
// every other line of it. False without a record (nothing written), when the
// file could not be written, or when the file is there but could not be read
// whole (it is then left as it is rather than replaced by what was read); *error
// says why, in Czech, and the old file is intact.
bool SaveSettings(const TData *data, const QString &path = SettingsFilePath(), QString *error = nullptr);
bool SaveSettings(const TData *data, const SettingsLocation &location, QString *error = nullptr);

#endif
