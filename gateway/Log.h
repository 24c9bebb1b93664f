#ifndef RQ_GATEWAY_LOG_H
#define RQ_GATEWAY_LOG_H

#include <QString>

// Log lines on stderr with a level; under systemd the "<N>" prefix tells
// journald the level, on a terminal the level is written out.
enum class LogLevel { Debug = 7, Info = 6, Warning = 4, Error = 3 };
void SetLogLevel(LogLevel least);
void SetLogName(const QString &name);
LogLevel LogLevelOf(const QString &text);
void Log(LogLevel level, const QString &text);

#endif
