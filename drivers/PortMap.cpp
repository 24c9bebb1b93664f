#include "PortMap.h"

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

bool writeAll(int fd, const std::string &text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
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

bool writePortMap(const std::string &path, const PortMap &map)
{
    const auto slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos)
        return false;
    // The settings folder and its parent, as a file manager would create them.
    const std::string folder = path.substr(0, slash);
    ::mkdir(folder.substr(0, folder.rfind('/')).c_str(), 0700);
    ::mkdir(folder.c_str(), 0700);
    std::string text = "; Stálé názvy portů programu W_RQ3510: COM<n> a USB -> zařízení\n";
    for (const auto &[key, value] : map)
        text += key + '=' + value + '\n';
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace rqports
