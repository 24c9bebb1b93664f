// Runs the module simulator rqsim for a test and drives its control channel.
//
//   SimProcess sim;
//   QVERIFY2(sim.start({"--module", "1:3510:1.08"}), qPrintable(sim.errorString()));
//   // LAN converter: IP "127.0.0.1", UDP port sim.udpPort()
//   sim.setInput(1, 0, 0.0421);          // AIN0 of module 1 reads 0.0421 V
//   sim.addFault("cmd=0 sub=3 error=2"); // AIN3 answers with module error 2
//   QCOMPARE(sim.memoryByte(1, 63), 1);
//
// start() adds "--udp 0" unless the arguments ask for a way in themselves
// ("--udp", "--pty"); pass "--pty" for a serial line, then ptyPath() is the
// device (set env RQ_COM<n> to it for the serial port library). Any
// option of rqsim --help may be passed. The destructor stops the process.
//
// Modules are named by their bus address. Every call blocks for at most a
// few seconds and reports failure by its result, never by throwing.
//
// A test that connects through the program's binding loads our adapter
// libraries by their bare names: declare it with
//   rq_add_test(NAME ... LIBS rqtestsupport ... REALADAPTERS)
// The LAN converter settings are IP "127.0.0.1", UDP port udpPort() and a
// UDP timeout such as 200; for the serial port set RQ_COM<n> to ptyPath()
// (qputenv) and use port n. docs/rqsim.md describes modules, commands,
// the control channel and the fault rules.
#ifndef RQ_TESTS_SUPPORT_SIMPROCESS_H
#define RQ_TESTS_SUPPORT_SIMPROCESS_H

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>

class SimProcess
{
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // Path of the rqsim program built with the tree.
    static QString program();

    // Starts rqsim and waits until it is ready (at most timeoutMs).
    bool start(const QStringList &arguments = {}, int timeoutMs = 10000);
    // Asks rqsim to quit (the state file is then written) and waits; kills it if it hangs.
    void stop();
    bool isRunning() const;
    qint64 processId() const { return m_process.processId(); }
    QString errorString() const { return m_error; }

    quint16 udpPort() const { return m_udpPort; }
    QString ptyPath() const { return m_ptyPath; }
    quint16 controlPort() const { return m_controlPort; }

    // One control line; returns rqsim's reply line ("OK ..." or "ERR ..."),
    // empty when rqsim did not answer. docs/rqsim.md lists the commands.
    QString command(const QString &line);
    // command() and true when the reply is "OK".
    bool ok(const QString &line);

    // Configuration memory of a module: 512 bytes (page 0, then page 1); empty on failure.
    QByteArray memory(int module);
    // One byte at address 0..511 (256 and up is page 1); -1 on failure.
    int memoryByte(int module, int address);
    bool setMemoryByte(int module, int address, int value);

    // The true value of an analog input: volts, ohms or °C as the input's
    // range byte says, or as unit ("V", "ohm", "C") says.
    bool setInput(int module, int input, double value, const QString &unit = {});
    // Analog front end errors: U * (1 + gain) + offset volts.
    bool setAnalogErrors(int module, double gain, double offsetVolts);
    bool setTemperature(int module, double celsius);
    // Physical levels of the 32 digital inputs (the module's negation applies on reading).
    bool setDigitalInputs(int module, quint32 physical);
    // Outputs as last written (latched), before the module's negation; ~0u on failure.
    quint32 outputs(int module);
    // Status register; ~0u on failure.
    quint32 status(int module);

    // Fault rules, e.g. "cmd=0 sub=3 error=2", "drop p=0.1", "mem=31 readback=0x55 count=1".
    bool addFault(const QString &rule);
    bool clearFaults();
    // requests, replies, ignored, bad, faults.
    QMap<QString, qint64> counters();

private:
    bool readStartLines(int timeoutMs);
    QString value(const QString &reply, const QString &key) const;

    QProcess m_process;
    QTcpSocket m_control;
    quint16 m_udpPort = 0;
    quint16 m_controlPort = 0;
    QString m_ptyPath;
    QString m_error;
};

#endif
