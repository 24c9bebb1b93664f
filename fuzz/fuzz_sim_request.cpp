// The simulator's side of the line: any bytes as requests, as a byte stream
// on its pseudo-terminal or as control channel lines. Nothing may crash, and
// every reply written back must be a whole, valid reply frame.
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

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

struct World
{
    int argc = 1;
    char name[8] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    Simulator sim;
    int line = -1; // our end of the serial line

    World()
    {
        sim.addModule(std::make_unique<SimModule>(SimModule::Model::RQ3510, QStringLiteral("1.08"), 1, 4));
        sim.addModule(std::make_unique<SimModule>(SimModule::Model::RQ3520, QStringLiteral("1.08"), 2, 4));
        sim.addModule(std::make_unique<SimModule>(SimModule::Model::RQ3530, QStringLiteral("1.08"), 3, 4));
        QString error;
        if (!sim.openPty(QString(), error))
            std::abort();
        line = ::open(sim.ptyPath().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (line < 0)
            std::abort();
        termios tio{};
        ::tcgetattr(line, &tio);
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B9600);
        ::cfsetospeed(&tio, B9600);
        ::tcsetattr(line, TCSANOW, &tio);
    }

    void write(const std::uint8_t *data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(line, data, size);
            if (n > 0) {
                data += n;
                size -= static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
                return;
            } else {
                QCoreApplication::processEvents();
            }
        }
    }

    // Back to the plain bus for the next input: no faults, every module as
    // built (a command may have changed its address or baud rate).
    void restore()
    {
        sim.faults().clear();
        const SimModule::Model models[3] = {SimModule::Model::RQ3510, SimModule::Model::RQ3520,
                                            SimModule::Model::RQ3530};
        auto &modules = sim.modules();
        for (std::size_t i = 0; i < modules.size() && i < 3; ++i)
            modules[i] = std::make_unique<SimModule>(models[i], QStringLiteral("1.08"),
                                                     static_cast<std::uint8_t>(i + 1), 4);
        settle();
    }

    // Lets the simulator answer, then takes every byte it wrote back.
    std::vector<std::uint8_t> settle()
    {
        std::vector<std::uint8_t> replies;
        for (int quiet = 0; quiet < 3;) {
            QCoreApplication::processEvents();
            pollfd p{line, POLLIN, 0};
            if (::poll(&p, 1, 1) <= 0) {
                ++quiet;
                continue;
            }
            std::uint8_t buffer[512];
            const ssize_t n = ::read(line, buffer, sizeof buffer);
            if (n > 0)
                replies.insert(replies.end(), buffer, buffer + n);
        }
        return replies;
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
    if (size < 1 || size > 512)
        return 0;
    World &w = world();
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
        QCoreApplication::processEvents();
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
            const QString reply = w.sim.control(line);
            FUZZ_CHECK(reply.startsWith(QLatin1String("OK")) || reply.startsWith(QLatin1String("ERR")) ||
                       reply.isEmpty() || line.trimmed() == QLatin1String("help"));
        }
        // Then read everything the lines may have changed, on the line.
        std::vector<std::uint8_t> stream;
        for (std::uint8_t address = 1; address <= 3; ++address) {
            for (std::uint8_t sub : {0, 1, 5, 11, 16, 64}) {
                const auto frame = rqframe::encodeSerialRequest({address, 0, sub, {}});
                stream.insert(stream.end(), frame.begin(), frame.end());
            }
            for (std::uint8_t command : {100, 200}) {
                const auto frame = rqframe::encodeSerialRequest({address, command, 0, {}});
                stream.insert(stream.end(), frame.begin(), frame.end());
            }
        }
        w.sim.faults().clear(); // a fault rule would change the replies on purpose
        w.write(stream.data(), stream.size());
        w.settle();
        break;
    }
    }
    w.restore();
    return 0;
}
