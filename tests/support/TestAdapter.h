#ifndef RQ_TESTS_TESTADAPTER_H
#define RQ_TESTS_TESTADAPTER_H

// The test side of the recording test adapter library: every call of an
// entry point lands here, is recorded, and is answered by a small module
// model or by the test's own script. Link rqtestsupport and register the test
// with rq_add_test(... TESTADAPTER) so the program loads the test libraries.

#include <QList>
#include <QMap>
#include <QString>

#include <array>
#include <functional>

struct TaRequest
{
    quint8 address = 0, command = 0, sub = 0;
    std::array<quint8, 5> d{}; // D0..D4 as sent
    bool operator==(const TaRequest &) const = default;
};

struct TaReply
{
    quint32 result = 0;        // Send's function result
    quint32 errorWord = 0;     // the error word it fills
    std::array<quint8, 5> d{}; // D0..D4 of the reply
};

struct TaCall
{
    QString prefix; // "KRQ4638", ...
    QString entry;  // "Init", "Send", ...
    std::array<quintptr, 5> args{};
    TaRequest request;                // for Send
    std::array<quintptr, 16> block{}; // for the LAN converter's Init: the block copy
    QByteArray ip;                    // ... and the IP text word 0 pointed at
};

class TestAdapter
{
public:
    static TestAdapter &instance();
    // Forgets calls and script; the module model returns to its defaults.
    void reset();

    // Results of the entry points other than Send.
    quint32 initResult = 0;
    quint32 handleToIssue = 0x1234;
    quint32 setConfigResult = 0;
    quint32 doneResult = 0;
    quint32 doneSetsHandleTo = 0; // what Done leaves in the caller's variable

    // Send answers from this script when set, else from the module model.
    std::function<TaReply(const TaRequest &request, int index)> script;
    // Error n (1-based index of Send calls) with the given code instead of answering.
    QMap<int, quint32> failSend;
    // A read-back (command 102) of page*256+address returns this value instead.
    QMap<int, quint8> readBackOverride;

    // Module model.
    std::array<quint8, 512> memory{};
    QByteArray model = QByteArrayLiteral("RQ-3510 ");
    QByteArray version = QByteArrayLiteral("1.08");
    std::array<quint32, 17> values{}; // measured values, raw D1..D4 packed little-endian
    std::array<quint8, 4> inputs{};   // D1..D4 of the digital inputs
    std::array<quint8, 4> outputs{};  // last written outputs
    std::array<quint8, 4> status{};   // status register
    // Sets the measured value of input sub (16 = thermometer) from magnitude,
    // sign and decimals in the module's format.
    void setValue(int sub, qint32 magnitude, int decimals);

    // Texts of Error: code 0 "V pořádku", others "chyba <code>" unless listed.
    QMap<quint32, QString> errorTexts;
    // Faulty libraries: Error that leaves the buffer as it was; a successful
    // Send that never fills the status word, or neither it nor the response.
    bool errorWritesNothing = false;
    bool sendFillsStatus = true;
    bool sendFillsResponse = true;

    // Record.
    QList<TaCall> calls;
    // Called with every call as it is recorded, before it is answered: what
    // the program shows while a library call runs.
    std::function<void(const TaCall &call)> onCall;
    QList<TaRequest> sends() const;
    int count(const QString &entry) const;

    // Called by the library.
    quint32 call(const char *prefix, const char *entry, quintptr a0, quintptr a1, quintptr a2, quintptr a3,
                 quintptr a4);

private:
    TestAdapter() { reset(); }
    TaReply model_(const TaRequest &r);
    void record(const TaCall &c);
};

// Module bytes for the default configuration image.
void TaDefaultMemory(std::array<quint8, 512> &memory);

#endif
