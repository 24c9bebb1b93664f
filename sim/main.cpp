// rqsim: simulates RQ-3510/3520/3530 modules on one bus, reachable over UDP
// like the LAN converter and over a pseudo-terminal like a serial line.
#include "Simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

void say(const QString &line)
{
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int fail(const QString &message)
{
    std::fprintf(stderr, "rqsim: %s\n", message.toLocal8Bit().constData());
    return 2;
}

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT and SIGHUP end the event loop, so the state file is written.
void quitOnSignals(QCoreApplication &app)
{
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    // The reply delays (--wire-time, delay faults) are timers: with the
    // default 50 us slack each would come late by up to that much.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    // Qt's glib event loop rounds timer waits up to whole milliseconds; its
    // own loop waits to the microsecond, so a wire time of 2 ms stays 2 ms.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // A file size limit must fail a write (and be reported), not kill rqsim.
    std::signal(SIGXFSZ, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("rqsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulates RQ remote I/O modules on one bus for the service tool and its tests.\n"
        "Prints one line per way in: \"udp PORT\", \"pty PATH\", \"control PORT\", then \"ready\".\n"
        "The control channel (TCP on 127.0.0.1) takes one command a line; send \"help\" for the list.\n"
        "See docs/rqsim.md."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption moduleOpt(
        {QStringLiteral("m"), QStringLiteral("module")},
        QStringLiteral("A module: ADDRESS[:MODEL[:FIRMWARE[:BAUD]]], MODEL 3510, 3520 or 3530, "
                       "FIRMWARE like 1.08, BAUD its own rate (default --baud). Repeat for several; "
                       "two at one address and rate answer garbled. Default 1:3510:1.08."),
        QStringLiteral("module"));
    const QCommandLineOption baudOpt(
        QStringLiteral("baud"),
        QStringLiteral("Baud rate of modules without a stored memory (default 9600)."),
        QStringLiteral("rate"), QStringLiteral("9600"));
    const QCommandLineOption udpOpt(
        {QStringLiteral("u"), QStringLiteral("udp")},
        QStringLiteral("Answer UDP like the LAN converter on this port (0 = any free)."),
        QStringLiteral("port"));
    const QCommandLineOption bindOpt(QStringLiteral("bind"),
                                     QStringLiteral("Address for UDP (default 127.0.0.1)."),
                                     QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption ptyOpt({QStringLiteral("p"), QStringLiteral("pty")},
                                    QStringLiteral("Answer on a pseudo-terminal like a serial line."));
    const QCommandLineOption linkOpt(QStringLiteral("link"),
                                     QStringLiteral("Make PATH a symbolic link to the pseudo-terminal."),
                                     QStringLiteral("path"));
    const QCommandLineOption controlOpt(
        {QStringLiteral("c"), QStringLiteral("control")},
        QStringLiteral("TCP port of the control channel on 127.0.0.1 (default 0 = any)."),
        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption stateOpt(
        QStringLiteral("state"),
        QStringLiteral("Keep the modules' memory in FILE (loaded at start, written on "
                       "every change)."),
        QStringLiteral("file"));
    const QCommandLineOption faultOpt(
        {QStringLiteral("f"), QStringLiteral("fault")},
        QStringLiteral("A fault rule, e.g. \"cmd=0 sub=3 error=2\" or \"drop p=0.1\". "
                       "Repeatable."),
        QStringLiteral("rule"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Seed of the fault probabilities."), QStringLiteral("n"));
    const QCommandLineOption wireOpt(
        QStringLiteral("wire-time"),
        QStringLiteral("Delay replies by the time request and reply need on the bus."));
    const QCommandLineOption echoOpt(
        QStringLiteral("echo"), QStringLiteral("Echo every byte on the pseudo-terminal (half-duplex line)."));
    const QCommandLineOption gainOpt(QStringLiteral("ain-gain-error"),
                                     QStringLiteral("Analog gain error of every module (0.01 = +1 %)."),
                                     QStringLiteral("g"), QStringLiteral("0"));
    const QCommandLineOption offsetOpt(QStringLiteral("ain-offset-error"),
                                       QStringLiteral("Analog offset error of every module in volts."),
                                       QStringLiteral("v"), QStringLiteral("0"));
    const QCommandLineOption tempOpt(QStringLiteral("temp"),
                                     QStringLiteral("Internal temperature in °C (default 25)."),
                                     QStringLiteral("c"), QStringLiteral("25"));
    const QCommandLineOption tGainOpt(QStringLiteral("temp-gain-error"),
                                      QStringLiteral("Thermometer gain error (0.01 = +1 %)."),
                                      QStringLiteral("g"), QStringLiteral("0"));
    const QCommandLineOption tZeroOpt(
        QStringLiteral("temp-zero-error"),
        QStringLiteral("Thermometer zero error in raw counts (what a shorted jumper "
                       "reads)."),
        QStringLiteral("counts"), QStringLiteral("0"));
    const QCommandLineOption parentOpt(
        QStringLiteral("exit-with-parent"),
        QStringLiteral("Quit when the process that started rqsim ends (for tests)."));
    const QCommandLineOption verboseOpt(QStringLiteral("verbose"),
                                        QStringLiteral("Log every request on stderr."));
    parser.addOptions({moduleOpt, baudOpt, udpOpt, bindOpt, ptyOpt, linkOpt, controlOpt, stateOpt, faultOpt,
                       seedOpt, wireOpt, echoOpt, gainOpt, offsetOpt, tempOpt, tGainOpt, tZeroOpt, parentOpt,
                       verboseOpt});
    parser.process(app);

    if (parser.isSet(parentOpt)) {
        // A crashed test must not leave simulators behind.
        const pid_t parent = ::getppid();
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            return 0;
    }

    Simulator sim;
    const std::uint32_t baud = parser.value(baudOpt).toUInt();
    std::uint8_t baudIndex = 0xFF;
    for (std::uint8_t i = 0; i < 9; ++i)
        if (SimModule::baudOfIndex(i) == baud)
            baudIndex = i;
    if (baudIndex == 0xFF)
        return fail(QStringLiteral("unsupported baud rate %1").arg(parser.value(baudOpt)));

    QStringList modules = parser.values(moduleOpt);
    if (modules.isEmpty())
        modules << QStringLiteral("1:3510:1.08");
    for (const QString &moduleText : modules) {
        const QStringList parts = moduleText.split(QLatin1Char(':'));
        bool good = false;
        qint64 address = 0;
        good = parseNumber(parts.at(0), address);
        if (!good || address < 0 || address > 255)
            return fail(QStringLiteral("bad module address in \"%1\"").arg(moduleText));
        SimModule::Model model = SimModule::Model::RQ3510;
        if (parts.size() > 1 && !SimModule::parseModel(parts.at(1), model))
            return fail(QStringLiteral("unknown model in \"%1\" (3510, 3520 or 3530)").arg(moduleText));
        const QString firmware =
            parts.size() > 2 && !parts.at(2).isEmpty() ? parts.at(2) : QStringLiteral("1.08");
        // Each module may listen at a rate of its own, so one bus can hold several.
        std::uint8_t moduleBaud = baudIndex;
        if (parts.size() > 3) {
            const std::uint32_t rate = parts.at(3).toUInt();
            moduleBaud = 0xFF;
            for (std::uint8_t i = 0; i < 9; ++i)
                if (SimModule::baudOfIndex(i) == rate)
                    moduleBaud = i;
            if (moduleBaud == 0xFF)
                return fail(QStringLiteral("unsupported baud rate in \"%1\"").arg(moduleText));
        }
        auto module =
            std::make_unique<SimModule>(model, firmware, static_cast<std::uint8_t>(address), moduleBaud);
        module->gainError = parser.value(gainOpt).toDouble();
        module->offsetError = parser.value(offsetOpt).toDouble();
        module->temperature = parser.value(tempOpt).toDouble();
        module->thermoGainError = parser.value(tGainOpt).toDouble();
        module->thermoZeroError = parser.value(tZeroOpt).toDouble();
        sim.addModule(std::move(module));
    }

    QString error;
    if (parser.isSet(stateOpt) && !sim.loadState(parser.value(stateOpt), error))
        return fail(error);
    for (const QString &rule : parser.values(faultOpt)) {
        const QString e = sim.faults().add(rule);
        if (!e.isEmpty())
            return fail(QStringLiteral("fault \"%1\": %2").arg(rule, e));
    }
    if (parser.isSet(seedOpt))
        sim.faults().setSeed(parser.value(seedOpt).toUInt());
    sim.setWireTime(parser.isSet(wireOpt));
    sim.setEcho(parser.isSet(echoOpt));
    sim.setVerbose(parser.isSet(verboseOpt));

    const bool wantPty = parser.isSet(ptyOpt) || parser.isSet(linkOpt);
    const bool wantUdp = parser.isSet(udpOpt) || !wantPty;
    if (wantUdp) {
        const QHostAddress bind(parser.value(bindOpt));
        if (bind.isNull())
            return fail(QStringLiteral("bad bind address ") + parser.value(bindOpt));
        if (!sim.openUdp(bind, static_cast<quint16>(parser.value(udpOpt).toUInt()), error))
            return fail(error);
        say(QStringLiteral("udp %1").arg(sim.udpPort()));
    }
    if (wantPty) {
        if (!sim.openPty(parser.value(linkOpt), error))
            return fail(error);
        say(QStringLiteral("pty ") + sim.ptyPath());
    }
    if (!sim.openControl(static_cast<quint16>(parser.value(controlOpt).toUInt()), error))
        return fail(error);
    say(QStringLiteral("control %1").arg(sim.controlPort()));
    quitOnSignals(app);
    say(QStringLiteral("ready"));

    const int result = QCoreApplication::exec();
    // A state that could not be written is a failure the caller must see.
    if (!sim.saveState())
        return result != 0 ? result : 1;
    return result;
}
