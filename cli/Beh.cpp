#include "cli/Beh.h"

#include "cli/Kontext.h"

#include <QJsonDocument>
#include <QRegularExpression>

namespace {
// Whether --json was asked for, also on a command line that does not parse,
// so that a script gets its error object.
bool wantsJson(const QStringList &args)
{
    static const QRegularExpression group(QStringLiteral("^-[a-zA-Z]*j[a-zA-Z]*$"));
    for (const QString &a : args) {
        if (a == QLatin1String("--"))
            break;
        if (a == QLatin1String("--json") || group.match(a).hasMatch())
            return true;
    }
    return false;
}

QJsonObject failureObject(const QString &error, int code)
{
    return {{QStringLiteral("error"), error},
            {QStringLiteral("kind"), FailureKind(code)},
            {QStringLiteral("exitCode"), code}};
}
} // namespace

int RunCli(const QStringList &args, int outFd, int errFd, bool showProgress)
{
    Sink out(outFd, QStringLiteral("standardní výstup"), QStringLiteral("standardního výstupu"));
    Sink err(errFd, QStringLiteral("standardní chybový výstup"),
             QStringLiteral("standardního chybového výstupu"));
    const CliParse parse = ParseCliArguments(args);
    const auto written = [&out, &err](const QByteArray &bytes) {
        if (out.write(bytes))
            return ExitCode::Ok;
        if (out.closedPipe())
            return ExitCode::ClosedPipe;
        err.write(QStringLiteral("rqtool: %1\n").arg(out.error()));
        return ExitCode::File;
    };
    if (parse.help)
        return written(CliHelpText().toUtf8());
    if (parse.version)
        return written(QStringLiteral("rqtool %1\n").arg(QStringLiteral(RQ_VERSION)).toUtf8());
    if (!parse.error.isEmpty()) {
        err.write(QStringLiteral("rqtool: %1\n").arg(parse.error));
        if (wantsJson(args))
            written(
                QJsonDocument(failureObject(parse.error, ExitCode::Usage)).toJson(QJsonDocument::Indented));
        return ExitCode::Usage;
    }

    Context c(parse.arguments, out, err, showProgress);
    int code = ExitCode::Ok;
    QString error;
    try {
        c.prepare();
        code = FindCommand(parse.arguments.command)->execute(c);
    } catch (const Failure &f) {
        code = f.code;
        error = f.text.trimmed();
        // A reader that went away hears nothing more, as with SIGPIPE.
        if (code == ExitCode::ClosedPipe)
            return code;
        err.write(QStringLiteral("rqtool: %1\n").arg(error));
    }
    c.disconnect();
    if (!c.json)
        return code;
    QByteArray document;
    if (c.streamed) {
        // JSON Lines hold samples only; the failure went to standard error.
        return code;
    } else if (c.array && error.isEmpty()) {
        document = QJsonDocument(*c.array).toJson(QJsonDocument::Indented);
    } else {
        QJsonObject o = c.result;
        if (!error.isEmpty()) {
            const QJsonObject f = failureObject(error, code);
            for (auto it = f.begin(); it != f.end(); ++it)
                o.insert(it.key(), it.value());
        } else {
            o.insert(QStringLiteral("exitCode"), code);
        }
        document = QJsonDocument(o).toJson(QJsonDocument::Indented);
    }
    if (document.isEmpty())
        return code;
    if (!out.write(document)) {
        if (out.closedPipe())
            return ExitCode::ClosedPipe;
        err.write(QStringLiteral("rqtool: %1\n").arg(out.error()));
        return code == ExitCode::Ok || code == ExitCode::Different ? ExitCode::File : code;
    }
    return code;
}
