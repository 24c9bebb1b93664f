// Start-up cost of the program against a minimal Qt Widgets window built in
// the same run: time from process start to the main window painted, and peak
// memory (maximum resident set). Runs each alternately, reports medians.
// Both run from copies in a scratch folder, so the settings file the program
// writes beside itself never lands in the build folder; the configuration
// folder points there too. scripts/run-benchmarks.sh gives it a free X
// display of its own when none is set.
#include "BenchCpu.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
struct Sample
{
    double ms = 0;
    long rssKb = 0;
};

long long nowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

bool runOnce(const std::string &program, const std::string &workDir, Sample *out)
{
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    const long long start = nowNs();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        if (chdir(workDir.c_str()) != 0)
            _exit(126);
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string output;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        output.append(buffer, static_cast<std::size_t>(n));
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto at = output.find("shown ");
    if (at == std::string::npos)
        return false;
    out->ms = static_cast<double>(std::atoll(output.c_str() + at + 6) - start) / 1e6;
    out->rssKb = usage.ru_maxrss;
    return true;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}
} // namespace

int main(int argc, char *argv[])
{
    bench::pinToOneCpu();
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    const QString dir = QCoreApplication::applicationDirPath();
    QTemporaryDir work;
    const QString toolCopy = work.filePath(QStringLiteral("startup_tool"));
    const QString minimalCopy = work.filePath(QStringLiteral("startup_minimal"));
    if (!QFile::copy(QDir(dir).filePath(QStringLiteral("startup_tool")), toolCopy) ||
        !QFile::copy(QDir(dir).filePath(QStringLiteral("startup_minimal")), minimalCopy)) {
        std::fprintf(stderr, "cannot copy the programs into %s\n", qPrintable(work.path()));
        return 1;
    }
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toLocal8Bit());
    const std::string tool = toolCopy.toStdString();
    const std::string minimal = minimalCopy.toStdString();
    bench::printCpus();
    QList<double> toolMs, minMs, toolKb, minKb;
    for (int i = 0; i < runs + 1; ++i) {
        Sample a, b;
        if (!runOnce(tool, work.path().toStdString(), &a) ||
            !runOnce(minimal, work.path().toStdString(), &b)) {
            std::fprintf(stderr, "a run did not show its window (is a display or QT_QPA_PLATFORM set?)\n");
            return 1;
        }
        if (i == 0)
            continue; // warm the file cache
        toolMs << a.ms;
        minMs << b.ms;
        toolKb << double(a.rssKb);
        minKb << double(b.rssKb);
    }
    const double t = median(toolMs), m = median(minMs), tk = median(toolKb), mk = median(minKb);
    std::printf("platform           %s\n",
                qgetenv("QT_QPA_PLATFORM").isEmpty() ? "default" : qgetenv("QT_QPA_PLATFORM").constData());
    std::printf("runs               %d each, medians\n", runs);
    std::printf("start to shown     tool %.1f ms, minimal %.1f ms\n", t, m);
    std::printf("peak memory (RSS)  tool %.0f KiB, minimal %.0f KiB\n", tk, mk);
    bench::printGoal("start-up time, tool / minimal window", t / m, 1.30);
    bench::printGoal("peak memory, tool / minimal window", tk / mk, 1.30);
    return 0;
}
