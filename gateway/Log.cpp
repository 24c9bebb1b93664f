#include "gateway/Log.h"

#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {
LogLevel g_least = LogLevel::Info;
QByteArray g_name = "rqgw";
std::mutex g_lock;
} // namespace

void SetLogLevel(LogLevel least)
{
    g_least = least;
}

void SetLogName(const QString &name)
{
    std::lock_guard lock(g_lock);
    g_name = name.toUtf8();
}

LogLevel LogLevelOf(const QString &text)
{
    if (text == u"debug")
        return LogLevel::Debug;
    if (text == u"warning")
        return LogLevel::Warning;
    if (text == u"error")
        return LogLevel::Error;
    return LogLevel::Info;
}

void Log(LogLevel level, const QString &text)
{
    if (static_cast<int>(level) > static_cast<int>(g_least))
        return;
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    const char *word = level == LogLevel::Error     ? "chyba"
                       : level == LogLevel::Warning ? "varování"
                       : level == LogLevel::Info    ? "info"
                                                    : "ladění";
    std::lock_guard lock(g_lock);
    const QByteArray line = text.toUtf8();
    if (journal)
        std::fprintf(stderr, "<%d>%s: %s\n", static_cast<int>(level), g_name.constData(), line.constData());
    else
        std::fprintf(stderr, "%s: %s: %s\n", g_name.constData(), word, line.constData());
    std::fflush(stderr);
}
