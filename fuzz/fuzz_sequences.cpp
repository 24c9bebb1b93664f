// The transfer sequences against an adapter library that answers anything:
// any result and error word (0, small, above 99, above 255, with a zero low
// byte), a status word and response it may or may not fill, an Error entry
// point that may write nothing, a short text or 100 cells of garbage.
// Whatever it does: a sequence that reports success took every byte from a
// transaction that succeeded, and a failure always leaves a message.
//
// The library is the recording test adapter built as libKRQ4638.so beside
// this program (fuzz/adapters); every entry point comes here.
#include "FuzzSupport.h"

#include "app/Dekl.h"
#include "comm/Kxxx638.h"
#include "config/Prenos.h"
#include "core/Pauza.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

FuzzedDataProvider *g_input = nullptr;

struct Seen
{
    bool success = false;
    std::uint8_t command = 0, page = 0, address = 0, value = 0;
    std::uint8_t d3 = 0; // what the tool can see in D3 after the call
};
std::vector<Seen> g_sends;

std::uint32_t pickCode(FuzzedDataProvider &in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
    case 1:
    case 2:
        return 0;
    case 3:
        return in.ConsumeIntegralInRange<std::uint32_t>(1, 99);
    case 4:
        return in.ConsumeIntegralInRange<std::uint32_t>(100, 255);
    case 5:
        return in.ConsumeIntegralInRange<std::uint32_t>(1, 0xFFFF) << 8; // low byte 0
    default:
        return in.ConsumeIntegral<std::uint32_t>();
    }
}

std::uint32_t send(const std::uint32_t *request, std::uint32_t *response, std::uint32_t *status,
                   std::uint32_t *error)
{
    FuzzedDataProvider &in = *g_input;
    const std::uint32_t result = in.remaining_bytes() ? pickCode(in) : 0;
    const std::uint32_t errorWord = in.remaining_bytes() ? pickCode(in) : 0;
    const bool fillStatus = in.ConsumeBool();
    const bool fillResponse = !in.ConsumeBool();
    const bool fillOnFailure = in.ConsumeBool();
    std::uint8_t d[5];
    for (std::uint8_t &b : d)
        b = in.ConsumeIntegral<std::uint8_t>();
    // Requests 102 read back what 103 wrote, unless the input says otherwise.
    static std::uint8_t memory[512];
    const int at = (request[2] & 1) * 256 + (request[4] & 0xFF);
    if (request[1] == 103)
        memory[at] = static_cast<std::uint8_t>(request[6]);
    if (request[1] == 102 && in.ConsumeBool())
        d[3] = memory[at];

    const bool success = result == 0 && errorWord == 0;
    if (success || fillOnFailure) {
        if (fillStatus)
            *status = d[0] | (in.ConsumeBool() ? 0xFFFFFF00u : 0u);
        for (int i = 0; fillResponse && i < 4; ++i)
            response[i] = d[i + 1] | (in.ConsumeBool() ? 0xABCD0000u : 0u);
    }
    *error = errorWord;
    Seen s;
    s.success = success;
    s.command = static_cast<std::uint8_t>(request[1]);
    s.page = static_cast<std::uint8_t>(request[2]);
    s.address = static_cast<std::uint8_t>(request[4]);
    s.value = static_cast<std::uint8_t>(request[6]);
    s.d3 = fillResponse ? d[3] : 0;
    g_sends.push_back(s);
    return result;
}

void errorText(std::uint32_t, std::uint32_t *buffer)
{
    FuzzedDataProvider &in = *g_input;
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: // writes nothing
        break;
    case 1: // a short text from cell 1
        std::memset(buffer, 0, 100 * sizeof(std::uint32_t));
        buffer[1] = 'E';
        buffer[2] = 'r';
        break;
    case 2: // text from cell 0
        std::memset(buffer, 0, 100 * sizeof(std::uint32_t));
        buffer[0] = 'X';
        break;
    default: // every cell anything
        for (int i = 0; i < 100; ++i)
            buffer[i] = in.ConsumeIntegral<std::uint32_t>();
        break;
    }
}

struct Recorder : TransferReport
{
    QString last;
    int steps = 0;
    void status(const QString &text) override { last = text; }
    void step(int k, int) override { steps = k; }
};

} // namespace

extern "C" Q_DECL_EXPORT quint32 rq_test_adapter_call(const char *, const char *entry, quintptr a0,
                                                      quintptr a1, quintptr a2, quintptr a3, quintptr a4)
{
    if (!std::strcmp(entry, "Init")) {
        *reinterpret_cast<std::uint32_t *>(a0) = 1;
        return 0;
    }
    if (!std::strcmp(entry, "Send"))
        return send(reinterpret_cast<const std::uint32_t *>(a1), reinterpret_cast<std::uint32_t *>(a2),
                    reinterpret_cast<std::uint32_t *>(a3), reinterpret_cast<std::uint32_t *>(a4));
    if (!std::strcmp(entry, "Error"))
        errorText(static_cast<std::uint32_t>(a0), reinterpret_cast<std::uint32_t *>(a1));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static TData link = [] {
        TData d;
        SetDefaults(&d);
        d.adapterKind = 4;
        if (OpenAdapter(4, &d.handle, InitBlock{}) != 0) {
            std::fprintf(stderr, "libKRQ4638.so (the test adapter) not found: set LD_LIBRARY_PATH\n");
            std::abort();
        }
        d.connected = true;
        rq::setPauseHook([](int) {});
        rq::setEventsHook([] {});
        return d;
    }();

    FuzzedDataProvider in(data, size);
    g_input = &in;
    g_sends.clear();
    const bool write = in.ConsumeBool();
    const int n = in.ConsumeIntegralInRange<int>(1, 12);
    std::vector<std::uint8_t> image(static_cast<std::size_t>(n));
    QList<TransferStep> steps;
    for (int i = 0; i < n; ++i) {
        image[static_cast<std::size_t>(i)] = in.ConsumeIntegral<std::uint8_t>();
        steps.append({static_cast<quint8>(in.ConsumeIntegralInRange<int>(0, 1)),
                      in.ConsumeIntegral<std::uint8_t>(), &image[static_cast<std::size_t>(i)]});
    }
    const std::vector<std::uint8_t> before = image;
    Recorder report;
    const bool ok = (write ? WriteSequence(&link, report, steps) : ReadSequence(&link, report, steps)).ok();

    if (!ok) {
        // A failure: a message, never " " alone and never the text of success.
        FUZZ_CHECK(report.last.size() > 1 && report.last.startsWith(QLatin1Char(' ')));
        FUZZ_CHECK(report.last != TransferText::ReadDone && report.last != TransferText::WriteDone);
        FUZZ_CHECK(!report.last.trimmed().isEmpty());
    } else if (!write) {
        FUZZ_CHECK(report.last == TransferText::ReadDone);
        FUZZ_CHECK(g_sends.size() == static_cast<std::size_t>(n));
        for (int k = 0; k < n; ++k) {
            const Seen &s = g_sends[static_cast<std::size_t>(k)];
            FUZZ_CHECK(s.success && s.command == 102);
            FUZZ_CHECK(s.page == steps[k].page && s.address == steps[k].address);
            FUZZ_CHECK(image[static_cast<std::size_t>(k)] == s.d3);
        }
    } else {
        FUZZ_CHECK(report.last == TransferText::WriteDone);
        FUZZ_CHECK(g_sends.size() == static_cast<std::size_t>(2 * n));
        FUZZ_CHECK(image == before); // a write never changes the image
        for (int k = 0; k < n; ++k) {
            const Seen &w = g_sends[static_cast<std::size_t>(2 * k)];
            const Seen &r = g_sends[static_cast<std::size_t>(2 * k + 1)];
            FUZZ_CHECK(w.success && w.command == 103 && w.value == before[static_cast<std::size_t>(k)]);
            FUZZ_CHECK(r.success && r.command == 102 && r.d3 == before[static_cast<std::size_t>(k)]);
        }
    }
    if (!ok && !write) {
        // Bytes stored before the failure came from successful transactions.
        for (int k = 0; k < report.steps; ++k)
            FUZZ_CHECK(image[static_cast<std::size_t>(k)] == g_sends[static_cast<std::size_t>(k)].d3);
    }
    return 0;
}
