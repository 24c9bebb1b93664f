#ifndef RQ_CLI_KONTEXT_H
#define RQ_CLI_KONTEXT_H

#include "app/Dekl.h"
#include "cli/Argumenty.h"
#include "cli/Vystup.h"
#include "comm/Kxxx638.h"
#include "config/Prenos.h"
#include "dio/EepromFile.h"
#include "image/Obraz.h"
#include "image/Zarizeni.h"

#include <QJsonArray>
#include <QJsonObject>

#include <memory>
#include <optional>

// A failure that ends the command with its exit code and a Czech text.
struct Failure
{
    int code;
    QString text;
};

// "usage", "refused", "communication", "file", "interrupted" for JSON.
QString FailureKind(int code);

class BusLog;

// What every command works with: the parsed command line, the record with
// the connection, the outputs, and the result that --json prints.
class Context
{
public:
    Context(const CliArguments &arguments, Sink &out, Sink &err, bool progress);
    ~Context();
    Context(const Context &) = delete;
    Context &operator=(const Context &) = delete;

    const CliArguments &args;
    Sink &out;
    Sink &err;
    const bool json;
    const bool quiet;
    const bool progress;
    TData data;
    // The JSON result of a command that prints one document at its end.
    QJsonObject result;
    // Commands whose JSON result is an array (scan) set this instead.
    std::optional<QJsonArray> array;
    // values writes its JSON lines itself; a failure goes to standard error only.
    bool streamed = false;
    // Bytes the last write transfer wrote and verified, also when it failed.
    int written = 0;
    // The plant file of --config, read whole by prepare(); its [bus] (or its
    // gateway's converter port) stands for the connection options not given.
    std::optional<PlantFile> plant;
    QByteArray plantText;

    [[noreturn]] static void fail(int code, const QString &text) { throw Failure{code, text}; }

    // The settings file and the connection options into the record.
    void prepare();
    // The --address option as one address (else the settings file's).
    quint8 singleAddress() const;
    // Connects to the module at address (default singleAddress()).
    void connectModule(std::optional<quint8> address = std::nullopt);
    // Opens the adapter without asking a module; for the fleet commands.
    void openAdapter();
    void disconnect();
    // Sets the open adapter to the baud rate (the record keeps it).
    void useBaud(quint32 baud);

    // Transfers with progress on a terminal, a stop by a signal between two
    // bytes (saying how many were done) and errors with their context.
    EepromBlock readModule();
    void readSteps(const QList<TransferStep> &steps, const ProgressFigure &figure = StandardProgress);
    void writeSteps(const QList<TransferStep> &steps, const ProgressFigure &figure = StandardProgress);
    void transact(quint8 command, quint8 subCode, ModuleBytes &bytes);
    // The text of a failed transaction with its context: which module at
    // which rate, which device, or that the converter itself is silent.
    QString errorText(quint8 error);
    // A converter that answers nothing at all (the LAN converter's own query).
    bool converterSilent();
    // Ends the command when a signal asked to stop; done says what was done.
    void stopPoint(const QString &done);

    // A result line (not with --json) and a message on standard error.
    void line(const QString &text);
    void note(const QString &text);
    // One JSON document on a line of its own.
    void jsonLine(const QJsonObject &object);
    // Ends the command after a failed write to sink: quietly with 141 where
    // standard output's reader is gone (as a tool SIGPIPE ends), else exit 5.
    [[noreturn]] void outputFailed(const Sink &sink, const QString &text);

    // "/dev/stdout", "/proc/self/fd/1" and the like name standard output
    // (or input) as "-" does; any other path stays.
    static QString dashName(const QString &path);
    // The text of a write refused for its risks: the reasons themselves,
    // and only the way out that would help (set, without --keep-address, passes true).
    static QString refusal(const QStringList &risks, bool keepAddressGiven);
    // A write of binary data onto a terminal is refused (exit 2).
    void refuseBinaryOnTerminal() const;

    // A whole-number option in [min, max]; fallback when not given.
    qint64 number(const QString &name, qint64 min, qint64 max, qint64 fallback) const;

    // The model the connected module names in its identity; else one that
    // every range byte of the block fits; else the RQ-3510.
    ModuleModel modelOf(const EepromBlock *block) const;
    // The model --model names (exit 2 for an unknown one); none when not given.
    std::optional<ModuleModel> modelOption() const;

    // A whole file or standard input ("-"), at most limit bytes (+1 to tell
    // a longer one apart); exit 5 naming it when it cannot be read.
    QByteArray readInput(const QString &path, qint64 limit, qint64 *size = nullptr);

private:
    // A connection option from the command line, else from the plant file's [bus].
    bool given(const QString &name) const;
    QString givenValue(const QString &name) const;
    QString fromPlant(const QString &name) const; // null: not in the file
    void loadPlant();
    void sequence(bool write, const QList<TransferStep> &steps, const ProgressFigure &figure);
    std::unique_ptr<BusLog> m_log;
    std::optional<bool> m_converterSilent;
};

#endif
