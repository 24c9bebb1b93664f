// The simulator's side of the line: any bytes as requests, as a byte stream
// on its serial line or as control channel lines. Nothing may crash, and
// every reply written back must be a whole, valid reply frame. The line is
// fed in process (Simulator::serialInput, replies caught by its serial
// sink), so an input costs microseconds; every input meets a fresh bus.
//
// Input: mode byte, then
//   mode 0: 8-byte records (module, command, sub-code, D0..D4) handed to the
//           three module models directly, every command and sub-code alike
//   mode 1: raw bytes on the serial line, split in two writes at byte 1
//   mode 2: 9-byte records, each sent on the serial line as a valid request
//           frame (the CRC made right), so that every command is answered
//   mode 3: control channel lines, one per line of text
#include "FuzzSupport.h"

#include "RqFrame.h"
#include "SimModule.h"
#include "Simulator.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

struct World
{
    int argc = 1;
    char name[8] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    std::unique_ptr<Simulator> sim;
    std::vector<std::uint8_t> replies; // what the modules wrote on the line

    // A bus as built: three modules, no faults, nothing half received.
    void fresh()
    {
        sim = std::make_unique<Simulator>();
        sim->addModule(std::make_unique<SimModule>(SimModule::Model::RQ3510, QStringLiteral("1.08"), 1, 4));
        sim->addModule(std::make_unique<SimModule>(SimModule::Model::RQ3520, QStringLiteral("1.08"), 2, 4));
        sim->addModule(std::make_unique<SimModule>(SimModule::Model::RQ3530, QStringLiteral("1.08"), 3, 4));
        sim->setSerialSink(
            [this](const QByteArray &bytes) { replies.insert(replies.end(), bytes.begin(), bytes.end()); });
        replies.clear();
    }

    void write(const std::uint8_t *data, std::size_t size)
    {
        sim->serialInput(QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    }

    // Every byte written back so far; the replies come at once (no fault delays them).
    std::vector<std::uint8_t> settle()
    {
        std::vector<std::uint8_t> out;
        out.swap(replies);
        return out;
    }
};

World &world()
{
    static World w;
    return w;
}

void checkReplies(const std::vector<std::uint8_t> &bytes)
{
    FUZZ_CHECK(bytes.size() % rqframe::kSerialReplySize == 0);
    for (std::size_t at = 0; at < bytes.size(); at += rqframe::kSerialReplySize) {
        rqframe::Reply reply;
        FUZZ_CHECK(rqframe::decodeSerialReply(bytes.data() + at, rqframe::kSerialReplySize, reply) ==
                   rqframe::Decode::Ok);
        FUZZ_CHECK(reply.address >= 1 && reply.address <= 3);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1 || size > 256)
        return 0;
    World &w = world();
    w.fresh();
    const std::uint8_t mode = data[0] % 4;
    ++data;
    --size;
    switch (mode) {
    case 0: {
        const SimModule::Model models[3] = {SimModule::Model::RQ3510, SimModule::Model::RQ3520,
                                            SimModule::Model::RQ3530};
        for (std::size_t at = 0; at + 8 <= size; at += 8) {
            SimModule module(models[data[at] % 3], QStringLiteral("1.08"), 1, 4);
            rqframe::Request r;
            r.address = 1;
            r.command = data[at + 1];
            r.subcode = data[at + 2];
            for (std::size_t i = 0; i < 5; ++i)
                r.d[i] = data[at + 3 + i];
            const rqframe::Reply reply = module.handle(r, static_cast<qint64>(at) * 7);
            FUZZ_CHECK(reply.address == r.address && reply.command == r.command &&
                       reply.subcode == r.subcode);
        }
        break;
    }
    case 1:
        w.write(data, std::min<std::size_t>(size, 1));
        if (size > 1)
            w.write(data + 1, size - 1);
        checkReplies(w.settle());
        break;
    case 2: {
        std::vector<std::uint8_t> stream;
        for (std::size_t at = 0; at + 9 <= size; at += 9) {
            rqframe::Request r;
            r.address = static_cast<std::uint8_t>(data[at] % 5); // 1..3 exist, 0 and 4 do not
            r.command = data[at + 1];
            r.subcode = data[at + 2];
            for (std::size_t i = 0; i < 5; ++i)
                r.d[i] = data[at + 3 + i];
            // Writes into the memory could change a module's address or baud
            // rate at its next power-up; keep the bus as it is.
            const auto frame = rqframe::encodeSerialRequest(r);
            stream.insert(stream.end(), frame.begin(), frame.end());
        }
        if (!stream.empty()) {
            w.write(stream.data(), stream.size());
            checkReplies(w.settle());
        }
        break;
    }
    case 3: {
        const QString text =
            QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
        for (const QString &line : text.split(QLatin1Char('\n'))) {
            const QString reply = w.sim->control(line);
            FUZZ_CHECK(reply.startsWith(QLatin1String("OK")) || reply.startsWith(QLatin1String("ERR")) ||
                       reply.isEmpty() || line.trimmed() == QLatin1String("help"));
        }
        // Then read everything the lines may have changed, on the line.
        std::vector<std::uint8_t> stream;
        for (std::uint8_t address = 1; address <= 3; ++address) {
            for (std::uint8_t sub : {0, 5, 16, 64}) {
                const auto frame = rqframe::encodeSerialRequest({address, 0, sub, {}});
                stream.insert(stream.end(), frame.begin(), frame.end());
            }
            for (std::uint8_t command : {100}) {
                const auto frame = rqframe::encodeSerialRequest({address, command, 0, {}});
                stream.insert(stream.end(), frame.begin(), frame.end());
            }
        }
        w.sim->faults().clear(); // a fault rule would change the replies on purpose
        w.write(stream.data(), stream.size());
        w.settle();
        break;
    }
    }
    return 0;
}
