// Loads one of our adapter driver libraries straight from the build's bin
// folder and resolves its seven entry points, for tests that drive a library
// without the program's binding.
#ifndef RQ_TESTS_DRIVERS_ADAPTERLIBRARY_H
#define RQ_TESTS_DRIVERS_ADAPTERLIBRARY_H

#include "drivers/AdapterAbi.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <dlfcn.h>

class AdapterLibrary
{
public:
    explicit AdapterLibrary(const char *prefix) : m_prefix(prefix)
    {
        const QByteArray file = QByteArray(RQ_BIN_DIR "/lib") + prefix + ".so";
        m_handle = ::dlopen(file.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle)
            return;
        version = resolve<RqVersionFn>("Version");
        setConfig = resolve<RqSetConfigFn>("SetConfig");
        getConfig = resolve<RqGetConfigFn>("GetConfig");
        send = resolve<RqSendFn>("Send");
        done = resolve<RqDoneFn>("Done");
        error = resolve<RqErrorFn>("Error");
        init = ::dlsym(m_handle, QByteArray(m_prefix + "_Init").constData());
    }
    ~AdapterLibrary()
    {
        if (m_handle)
            ::dlclose(m_handle);
    }
    AdapterLibrary(const AdapterLibrary &) = delete;
    AdapterLibrary &operator=(const AdapterLibrary &) = delete;

    bool loaded() const
    {
        return m_handle && version && init && setConfig && getConfig && send && done && error;
    }
    QString loadError() const { return QString::fromLocal8Bit(::dlerror()); }

    uint32_t initWord(uint32_t *handle, uint32_t word)
    {
        return reinterpret_cast<RqInitWordFn>(init)(handle, word);
    }
    uint32_t initPlain(uint32_t *handle) { return reinterpret_cast<RqInitPlainFn>(init)(handle); }
    uint32_t initLan(uint32_t *handle, const char *ip, uint32_t port, uint32_t timeoutMs)
    {
        RqInitBlock block{};
        block[0] = reinterpret_cast<uintptr_t>(ip);
        block[1] = port;
        block[2] = timeoutMs;
        return reinterpret_cast<RqInitBlockFn>(init)(handle, block);
    }

    // Error text of a code as the program reads it: cells 1.. as Windows-1250.
    QByteArray text(uint32_t code)
    {
        std::array<uint32_t, RQ_ERROR_CELLS> cells;
        cells.fill(0xFFFFFFFF);
        if (error(code, cells.data()) != 0 || cells[0] != 0)
            return "<bad buffer>";
        QByteArray out;
        for (int i = 1; i < RQ_ERROR_CELLS && cells[static_cast<std::size_t>(i)] != 0; ++i)
            out.append(static_cast<char>(cells[static_cast<std::size_t>(i)]));
        return out;
    }

    RqVersionFn version = nullptr;
    void *init = nullptr;
    RqSetConfigFn setConfig = nullptr;
    RqGetConfigFn getConfig = nullptr;
    RqSendFn send = nullptr;
    RqDoneFn done = nullptr;
    RqErrorFn error = nullptr;

private:
    template <typename Fn> Fn resolve(const char *name)
    {
        return reinterpret_cast<Fn>(::dlsym(m_handle, QByteArray(m_prefix + '_' + name).constData()));
    }

    QByteArray m_prefix;
    void *m_handle = nullptr;
};

// One transaction through a library's Send, in the program's record layout.
struct Transaction
{
    uint32_t result = 0;
    uint32_t errorWord = 0;
    uint32_t status = 0;
    std::array<uint32_t, RQ_RECORD_WORDS> response{};

    uint8_t d(int i) const
    {
        return static_cast<uint8_t>(i == 0 ? status : response[static_cast<std::size_t>(i - 1)]);
    }
    QByteArray text() const
    {
        const char chars[4] = {static_cast<char>(d(1)), static_cast<char>(d(2)), static_cast<char>(d(3)),
                               static_cast<char>(d(4))};
        return QByteArray(chars, 4);
    }
    uint32_t bits32() const
    {
        return d(1) | (d(2) << 8) | (d(3) << 16) | (static_cast<uint32_t>(d(4)) << 24);
    }
};

inline Transaction transact(AdapterLibrary &lib, uint32_t handle, uint8_t address, uint8_t command,
                            uint8_t sub, std::array<uint8_t, 5> d = {})
{
    std::array<uint32_t, RQ_RECORD_WORDS> request{};
    request[0] = address;
    request[1] = command;
    request[2] = sub;
    for (std::size_t i = 0; i < 5; ++i)
        request[3 + i] = d[i];
    Transaction t;
    t.errorWord = 0xDEAD;
    t.result = lib.send(handle, request.data(), t.response.data(), &t.status, &t.errorWord);
    return t;
}

#endif
