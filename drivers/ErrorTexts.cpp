#include "Driver.h"

#include <mutex>
#include <string>
#include <string_view>

namespace rqdrv {

namespace {

struct CodeText
{
    std::uint32_t code;
    std::string_view text; // UTF-8 here, Windows-1250 in the buffer
};

constexpr CodeText kTexts[] = {
    {Ok, "V pořádku"},
    {BadHandle, "Neplatný identifikátor připojení"},
    {BadArgument, "Neplatný parametr volání knihovny"},
    {TooManyConnections, "Příliš mnoho otevřených připojení"},
    {PortOpenFailed, "Komunikační port nelze otevřít"},
    {PortSetupFailed, "Komunikační port nelze nastavit"},
    {BadBaudRate, "Nepodporovaná komunikační rychlost"},
    {BadIpAddress, "Neplatná IP adresa"},
    {SocketFailed, "Chyba síťového rozhraní"},
    {IsaCardMissing, "ISA karta PCI-638 není v tomto počítači dostupná"},
    {NotBound, "Neplatný typ rozhraní nebo nepřipojená knihovna"},
    {PciCardMissing, "PCI karta PCI-4638 není v tomto počítači dostupná"},
    {SendFailed, "Chyba při odesílání dotazu"},
    {ReceiveFailed, "Chyba při příjmu odpovědi"},
    {DeviceGone, "Komunikační zařízení bylo odpojeno"},
    {ConnectionRefused, "LAN konvertor nepřijímá dotazy (UDP port nedostupný)"},
    {PortBusy, "Komunikační port používá jiná aplikace"},
    {BadUdpPort, "Neplatný UDP port"},
    // {group} is the group that owns the refused device.
    {NoPermission, "Přístup k portu odepřen: přidejte uživatele do skupiny {group} a přihlaste se znovu"},
    {DeviceBusy, "Port je obsazen jiným programem: ukončete ho nebo zvolte jiný port"},
    {Timeout, "Modul neodpovídá"},
    {BadCrc, "Chybný kontrolní součet odpovědi"},
    {BadLength, "Chybná délka odpovědi"},
    {WrongAddress, "Odpověď od jiného modulu"},
    {WrongCommand, "Odpověď na jiný příkaz"},
    {NoiseBefore, "Rušení na lince před odpovědí"},
    {GarbageAfter, "Nadbytečná data za odpovědí"},
    {BadRequest, "Neplatný dotaz (hodnota mimo rozsah 0-255)"},
    {GatewayRefusedWrite, "Brána zápis nepovolila (allow-writes / converter-writes)"},
    {GatewayRefusedClient, "Brána dotazy z této adresy nepřijímá (converter-allow)"},
    {ModuleUnknownCommandError, "Modul nezná příkaz"},
    {ModuleBadSubcodeError, "Modul hlásí neplatný podkód příkazu"},
    {ModuleBadDataError, "Modul hlásí neplatná data dotazu"},
    {ModuleWriteFailedError, "Modul hlásí chybu zápisu do konfigurační paměti"},
    {ModuleBusyError, "Modul je zaneprázdněn"},
    {ModuleUnknownError, "Modul hlásí neznámou chybu"},
};

constexpr std::string_view kUnknown = "Neznámý chybový kód knihovny";
constexpr std::string_view kGroupMark = "{group}";

std::mutex g_groupMutex;
std::string g_deniedGroup = "dialout"; // the usual owner of serial ports

// Windows-1250 codes of the non-ASCII characters our texts use.
struct Cp1250
{
    char32_t unicode;
    std::uint8_t code;
};

constexpr Cp1250 kCp1250[] = {
    {U'á', 0xE1}, {U'č', 0xE8}, {U'ď', 0xEF}, {U'é', 0xE9}, {U'ě', 0xEC}, {U'í', 0xED}, {U'ň', 0xF2},
    {U'ó', 0xF3}, {U'ř', 0xF8}, {U'š', 0x9A}, {U'ť', 0x9D}, {U'ú', 0xFA}, {U'ů', 0xF9}, {U'ý', 0xFD},
    {U'ž', 0x9E}, {U'Á', 0xC1}, {U'Č', 0xC8}, {U'Ď', 0xCF}, {U'É', 0xC9}, {U'Ě', 0xCC}, {U'Í', 0xCD},
    {U'Ň', 0xD2}, {U'Ó', 0xD3}, {U'Ř', 0xD8}, {U'Š', 0x8A}, {U'Ť', 0x8D}, {U'Ú', 0xDA}, {U'Ů', 0xD9},
    {U'Ý', 0xDD}, {U'Ž', 0x8E}, {U'°', 0xB0},
};

std::uint8_t toCp1250(char32_t c)
{
    if (c < 0x80)
        return static_cast<std::uint8_t>(c);
    for (const Cp1250 &e : kCp1250)
        if (e.unicode == c)
            return e.code;
    return '?';
}

// Decodes the next UTF-8 character of our own (well-formed) texts.
char32_t nextChar(std::string_view text, std::size_t &i)
{
    const auto b = static_cast<unsigned char>(text[i++]);
    if (b < 0x80)
        return b;
    int extra = (b >= 0xF0) ? 3 : (b >= 0xE0) ? 2 : 1;
    char32_t c = b & (0x3F >> extra);
    while (extra-- > 0 && i < text.size())
        c = (c << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    return c;
}

} // namespace

std::uint32_t moduleErrorCode(std::uint8_t moduleError)
{
    if (moduleError >= rqframe::ModuleUnknownCommand && moduleError <= rqframe::ModuleBusy)
        return ModuleErrorBase + std::uint32_t{moduleError};
    return ModuleUnknownError;
}

void setDeniedGroup(const std::string &group)
{
    std::lock_guard lock(g_groupMutex);
    g_deniedGroup = group;
}

void errorText(std::uint32_t code, std::uint32_t *buffer)
{
    std::string_view found = kUnknown;
    for (const CodeText &e : kTexts)
        if (e.code == code)
            found = e.text;
    std::string text(found);
    if (const auto at = text.find(kGroupMark); at != std::string::npos) {
        std::lock_guard lock(g_groupMutex);
        text.replace(at, kGroupMark.size(), g_deniedGroup);
    }
    textToBuffer(text, buffer);
}

void textToBuffer(std::string_view text, std::uint32_t *buffer)
{
    // Cell 0 stays 0 and the text starts in cell 1, as the program's own
    // text-to-buffer does; at most 99 characters.
    for (int i = 0; i < RQ_ERROR_CELLS; ++i)
        buffer[i] = 0;
    std::size_t pos = 0;
    for (int cell = 1; cell < RQ_ERROR_CELLS && pos < text.size(); ++cell)
        buffer[cell] = toCp1250(nextChar(text, pos));
}

} // namespace rqdrv
