// Values over time against rqsim over UDP, through the real LAN converter
// library:
//   memory: resident size of the chart dialog once its history holds one
//     minute of cycles, then the peak while a whole day at the measured full
//     cycle rate is fed into the history (goal: peak <= 1.5 x the minute);
//   CPU: the chart with all 13 lines against the plain analog monitor, each
//     shown and polling at the full cycle rate for the same time, rounds
//     alternating (goal: chart <= 1.3 x the monitor).
//
//   bench_trend [seconds per CPU round, default 4] [rounds, default 5]
#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "live/OkamAIN.h"
#include "live/SimConnection.h"
#include "support/SimProcess.h"
#include "trend/Prubeh.h"

#include <QApplication>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

namespace {
// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
long statusKiB(const char *field)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    return -1;
}

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec) + double(u.ru_stime.tv_sec)
        + (double(u.ru_utime.tv_usec) + double(u.ru_stime.tv_usec)) / 1e6;
}

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Run
{
    double cpu = 0;    // seconds of CPU
    double wall = 0;   // seconds
    quint64 cycles = 0;
};

// A shown window polling the module for the given time, from its first
// complete cycle on.
template <class Dialog> Run poll(TData &data, int ms, const std::function<quint64(Dialog &)> &cycles)
{
    Dialog d;
    d.Data = &data;
    d.show();
    while (cycles(d) == 0 && d.isVisible())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const quint64 first = cycles(d);
    QElapsedTimer t;
    t.start();
    const double cpu0 = cpuSeconds();
    runFor(ms);
    Run r;
    r.cpu = cpuSeconds() - cpu0;
    r.wall = double(t.nsecsElapsed()) / 1e9;
    r.cycles = cycles(d) - first;
    d.hide();
    return r;
}

quint64 monitorCycles(TForm3 &d) { return d.completedCycles(); }
quint64 chartCycles(TFormPrubeh &d) { return d.completedCycles(); }

// Draws every window once, as a user flicking through them would.
void drawAllWindows(TFormPrubeh &d)
{
    for (int w = TFormPrubeh::Minute; w <= TFormPrubeh::All; ++w) {
        d.ComboBox1->setCurrentIndex(w);
        d.Timer2Timer();
        QCoreApplication::processEvents();
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int seconds = args.size() > 1 ? std::max(1, args.at(1).toInt()) : 4;
    const int rounds = args.size() > 2 ? std::max(1, args.at(2).toInt()) : 5;

    SimProcess sim;
    if (!sim.start({QStringLiteral("--module"), QStringLiteral("1:3510:1.08")})) {
        std::fprintf(stderr, "rqsim: %s\n", qPrintable(sim.errorString()));
        return 1;
    }
    TData data;
    const QString error = ConnectToSim(data, sim, 1);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }

    // The full cycle rate of the chart on this bus.
    const Run probe = poll<TFormPrubeh>(data, 2000, chartCycles);
    const double rate = double(probe.cycles) / probe.wall;
    std::printf("values over time against rqsim over UDP: full cycle rate %.1f cycles/s\n", rate);

    // Memory: one minute, then a whole day, of cycles at that rate.
    long minuteKiB = 0, peakKiB = 0;
    {
        qint64 clock = 1'765'000'000'000;
        TFormPrubeh::clock = [&clock] { return clock; };
        TFormPrubeh d; // not polling: the history is fed directly
        d.show();
        const double step = 1000.0 / rate;
        double t = 0;
        TrendSample s;
        s.analogValid = s.dinValid = true;
        s.decimals.fill(4);
        quint64 fed = 0;
        const auto feedUntil = [&](double endMs) {
            for (; t < endMs; t += step, ++fed) {
                s.time = clock + qint64(t);
                for (std::size_t k = 0; k < TrendSample::ValueCount; ++k)
                    s.values[k] = std::sin(t / 60000.0 + double(k)) * 10 + double(fed % 7) * 0.01;
                s.din = quint32(fed / 25);
                d.history().append(s);
            }
        };
        feedUntil(60'000);
        clock += 60'000;
        drawAllWindows(d);
        minuteKiB = statusKiB("VmRSS");
        peakKiB = minuteKiB;
        const qint64 start = clock - 60'000;
        for (int hour = 1; hour <= 24; ++hour) {
            feedUntil(3'600'000.0 * hour);
            clock = start + 3'600'000LL * hour;
            drawAllWindows(d);
            peakKiB = std::max(peakKiB, statusKiB("VmRSS"));
        }
        // One redraw of the chart with a full minute of 13 lines, painted.
        d.ComboBox1->setCurrentIndex(TFormPrubeh::Minute);
        QElapsedTimer rt;
        rt.start();
        for (int i = 0; i < 50; ++i) {
            clock += 10;
            d.Timer2Timer();
            d.ChartView1->viewport()->repaint();
            
        }
        std::printf("one chart redraw (13 lines, 1 min window) takes %.2f ms\n", double(rt.nsecsElapsed()) / 1e6 / 50);
        TFormPrubeh::clock = nullptr;
        std::printf("history: %llu cycles fed, %zu KiB set aside for it\n", static_cast<unsigned long long>(fed),
                    d.history().reservedBytes() / 1024);
    }
    const double rssRatio = double(peakKiB) / double(minuteKiB);
    std::printf("RSS after 1 min %ld KiB, peak over 24 simulated hours %ld KiB (process peak %ld KiB)\n", minuteKiB,
                peakKiB, statusKiB("VmHWM"));
    std::printf("memory ratio %.3f (goal <= 1.500): %s\n", rssRatio, rssRatio <= 1.5 ? "met" : "NOT met");

    // CPU: monitor and chart alternately, the same time each.
    std::printf("%5s %12s %12s %12s %12s %12s %8s\n", "round", "monitor /s", "monitor cpu", "chart /s", "chart cpu",
                "per cycle", "ratio");
    std::vector<double> ratios;
    for (int r = 1; r <= rounds; ++r) {
        // Every other round the chart goes first, so a drifting machine load
        // weighs on both alike.
        Run m, c;
        if (r % 2) {
            m = poll<TForm3>(data, seconds * 1000, monitorCycles);
            c = poll<TFormPrubeh>(data, seconds * 1000, chartCycles);
        } else {
            c = poll<TFormPrubeh>(data, seconds * 1000, chartCycles);
            m = poll<TForm3>(data, seconds * 1000, monitorCycles);
        }
        const double mLoad = m.cpu / m.wall;
        const double cLoad = c.cpu / c.wall;
        const double perCycle = (c.cpu / double(std::max<quint64>(1, c.cycles)))
            / (m.cpu / double(std::max<quint64>(1, m.cycles)));
        ratios.push_back(cLoad / mLoad);
        std::printf("%5d %12.1f %11.1f%% %12.1f %11.1f%% %12.3f %8.3f\n", r, double(m.cycles) / m.wall, 100 * mLoad,
                    double(c.cycles) / c.wall, 100 * cLoad, perCycle, cLoad / mLoad);
    }
    std::sort(ratios.begin(), ratios.end());
    const double cpuRatio = ratios[ratios.size() / 2];
    std::printf("CPU ratio chart/monitor, median %.3f (goal <= 1.300): %s\n", cpuRatio,
                cpuRatio <= 1.3 ? "met" : "NOT met");
    DisconnectFromSim(data);
    return rssRatio <= 1.5 && cpuRatio <= 1.3 ? 0 : 2;
}
