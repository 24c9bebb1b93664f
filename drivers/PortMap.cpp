#include "PortMap.h"

#include "WholeFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rqports {

namespace {

std::string trimmed(const std::string &s)
{
    const auto begin = s.find_first_not_of(" \t\r");
    if (begin == std::string::npos)
        return {};
    const auto end = s.find_last_not_of(" \t\r");
    return s.substr(begin, end - begin + 1);
}

std::string upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

} // namespace

std::string portMapPath()
{
    std::string folder;
    if (const char *config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        folder = config;
    else if (const char *home = std::getenv("HOME"); home && *home)
        folder = std::string(home) + "/.config";
    else
        return {};
    return folder + "/W_RQ3510/porty.ini";
}

PortMap parsePortMap(const std::string &text)
{
    PortMap map;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = trimmed(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line[0] == ';' || line[0] == '#' || line[0] == '[')
            continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = upper(trimmed(line.substr(0, eq)));
        const std::string value = trimmed(line.substr(eq + 1));
        if (!key.empty() && !value.empty())
            map[key] = value;
    }
    return map;
}

PortMap readPortMap(const std::string &path)
{
    if (path.empty())
        return {};
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return {};
    std::string text;
    char buffer[4096];
    // A map is a few lines; a huge file is not one.
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (1u << 20);)
        text.append(buffer, n);
    std::fclose(f);
    return parsePortMap(text);
}

namespace {
std::string device(const std::string &variable, const std::string &key, const std::string &fallback,
                   std::string *source)
{
    if (source)
        source->clear();
    if (const char *path = std::getenv(variable.c_str()); path && *path) {
        if (source)
            *source = variable;
        return path;
    }
    const std::string file = portMapPath();
    const PortMap map = readPortMap(file);
    if (const auto it = map.find(key); it != map.end()) {
        if (source)
            *source = file;
        return it->second;
    }
    return fallback;
}
} // namespace

std::string comDevice(std::uint32_t port, std::string *source)
{
    const std::string n = std::to_string(port);
    return device("RQ_COM" + n, "COM" + n, "/dev/ttyS" + std::to_string(port - 1), source);
}

std::string usbDevice(std::string *source)
{
    return device("RQ_USB", "USB", "/dev/ttyUSB0", source);
}

namespace {
// The entry a line of the file holds, as parsePortMap takes it; false for
// comments, sections, blank and malformed lines.
bool entryOf(const std::string &line, std::string &key)
{
    const std::string t = trimmed(line);
    if (t.empty() || t[0] == ';' || t[0] == '#' || t[0] == '[')
        return false;
    const auto eq = t.find('=');
    if (eq == std::string::npos)
        return false;
    key = upper(trimmed(t.substr(0, eq)));
    return !key.empty() && !trimmed(t.substr(eq + 1)).empty();
}
} // namespace

std::string mergePortMap(const std::string &old, const PortMap &map)
{
    std::string text;
    PortMap left = map;
    std::size_t pos = 0;
    while (pos < old.size()) {
        std::size_t end = old.find('\n', pos);
        if (end == std::string::npos)
            end = old.size();
        const std::string line = old.substr(pos, end - pos);
        pos = end + 1;
        std::string key;
        if (!entryOf(line, key)) {
            text += line + '\n';
            continue;
        }
        // An entry the map still holds keeps its place; a removed one or a
        // repeated key goes.
        const auto it = left.find(key);
        if (it == left.end())
            continue;
        if (trimmed(line.substr(line.find('=') + 1)) == it->second)
            text += line + '\n';
        else
            text += trimmed(line.substr(0, line.find('='))) + '=' + it->second + '\n';
        left.erase(it);
    }
    if (trimmed(text).empty())
        text = "; Stálé názvy portů programu W_RQ3510: COM<n> a USB -> zařízení\n";
    for (const auto &[key, value] : left)
        text += key + '=' + value + '\n';
    return text;
}

bool writePortMap(const std::string &path, const PortMap &map)
{
    const auto slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos)
        return false;
    // The settings folder and its parent, as a file manager would create them.
    const std::string folder = path.substr(0, slash);
    ::mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    std::string old;
    if (std::FILE *f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && old.size() < (1u << 20);)
            old.append(buffer, n);
        const bool failed = std::ferror(f) != 0;
        std::fclose(f);
        if (failed)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    const std::string text = mergePortMap(old, map);
    return rqfile::saveWhole(path, text.data(), text.size()) == 0;
}

} // namespace rqports
