// Any bytes as the port map file (porty.ini) the adapter libraries read to
// find COM<n> and USB: parsing never crashes, every key is upper case,
// trimmed and free of the characters that end or begin a line's meaning,
// every value is trimmed and not empty, and a map merged into any text the
// way the diagnostics dialog writes the file reads back as that map, the
// same one or a changed one.
#include "FuzzSupport.h"

#include "PortMap.h"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool trimmedText(const std::string &s)
{
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    return !s.empty() && !blank(s.front()) && !blank(s.back()) && s.find('\n') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char *>(data), size);
    const rqports::PortMap map = rqports::parsePortMap(text);
    for (const auto &[key, value] : map) {
        FUZZ_CHECK(trimmedText(key));
        FUZZ_CHECK(trimmedText(value));
        FUZZ_CHECK(key.find('=') == std::string::npos);
        FUZZ_CHECK(key[0] != ';' && key[0] != '#' && key[0] != '[');
        for (char c : key)
            FUZZ_CHECK(c == static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    FUZZ_CHECK(rqports::parsePortMap(rqports::mergePortMap(text, map)) == map);
    rqports::PortMap changed = map;
    if (!changed.empty())
        changed.erase(changed.begin());
    changed["COM99"] = "/dev/ttyS98";
    if (!map.empty())
        changed[map.rbegin()->first] = "/dev/x";
    FUZZ_CHECK(rqports::parsePortMap(rqports::mergePortMap(text, changed)) == changed);
    return 0;
}
