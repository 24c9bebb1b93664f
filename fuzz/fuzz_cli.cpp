// rqtool's command line and its FIELD=VALUE texts: the input is split into
// arguments at NUL bytes. Parsing never crashes and either names a command
// or says what is wrong; a value the decoder takes for a field leaves every
// byte outside the field's offsets as it was.
#include "FuzzSupport.h"

#include "cli/Argumenty.h"
#include "image/Obraz.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QStringList args;
    for (const QByteArray &part : bytes.split('\0'))
        args << QString::fromUtf8(part);
    const CliParse parse = ParseCliArguments(args);
    FUZZ_CHECK(parse.help || parse.version || !parse.error.isEmpty() || !parse.arguments.command.isEmpty());

    // Every argument with "=" as an assignment for every model.
    EepromBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<quint8>(i * 7);
    for (const QString &arg : args) {
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        for (ModuleModel model : AllModels) {
            EepromBlock copy = block;
            const QString key = arg.left(eq);
            if (!EncodeField(copy, model, key, arg.mid(eq + 1))) {
                FUZZ_CHECK(copy == block);
                continue;
            }
            const std::optional<ImageField> f = DecodeField(copy, model, key);
            FUZZ_CHECK(f.has_value());
            for (int o = 0; o < EepromFileSize; ++o)
                if (!f->offsets.contains(o))
                    FUZZ_CHECK(copy[std::size_t(o)] == block[std::size_t(o)]);
        }
    }
    return 0;
}
