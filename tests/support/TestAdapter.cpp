#include "support/TestAdapter.h"

#include "core/Cp1250.h"

#include <cstring>

extern "C" Q_DECL_EXPORT quint32 rq_test_adapter_call(const char *prefix, const char *entry, quintptr a0,
                                                      quintptr a1, quintptr a2, quintptr a3, quintptr a4)
{
    return TestAdapter::instance().call(prefix, entry, a0, a1, a2, a3, a4);
}

TestAdapter &TestAdapter::instance()
{
    static TestAdapter adapter;
    return adapter;
}

void TaDefaultMemory(std::array<quint8, 512> &m)
{
    m.fill(0);
    for (int i = 0; i < 12; ++i)
        m[i] = 6;
    m[16] = 12;
    m[23] = 16;
    m[24] = 39;
    m[31] = 0x81;
    for (int k = 0; k < 4; ++k) {
        m[32 + 3 * k] = 0;
        m[33 + 3 * k] = 0xFF;
        m[34 + 3 * k] = 0xFF;
    }
    m[62] = 4;
    m[63] = 1;
}

void TestAdapter::reset()
{
    initResult = 0;
    handleToIssue = 0x1234;
    setConfigResult = 0;
    doneResult = 0;
    doneSetsHandleTo = 0;
    script = nullptr;
    onCall = nullptr;
    failSend.clear();
    readBackOverride.clear();
    TaDefaultMemory(memory);
    model = QByteArrayLiteral("RQ-3510 ");
    version = QByteArrayLiteral("1.08");
    values.fill(0);
    inputs.fill(0);
    outputs.fill(0);
    status.fill(0);
    errorTexts.clear();
    errorWritesNothing = false;
    sendFillsStatus = true;
    sendFillsResponse = true;
    calls.clear();
}

void TestAdapter::setValue(int sub, qint32 magnitude, int decimals)
{
    const quint32 m = static_cast<quint32>(magnitude < 0 ? -magnitude : magnitude) & 0x7FFFFF;
    quint32 packed = m | (magnitude < 0 ? 0x800000u : 0u) | (static_cast<quint32>(decimals & 0x7F) << 24);
    values[static_cast<std::size_t>(sub)] = packed;
}

QList<TaRequest> TestAdapter::sends() const
{
    QList<TaRequest> list;
    for (const TaCall &c : calls)
        if (c.entry == QLatin1String("Send"))
            list.append(c.request);
    return list;
}

int TestAdapter::count(const QString &entry) const
{
    int n = 0;
    for (const TaCall &c : calls)
        n += c.entry == entry;
    return n;
}

TaReply TestAdapter::model_(const TaRequest &r)
{
    TaReply reply;
    auto &d = reply.d;
    switch (r.command) {
    case 200: {
        const QByteArray text = r.sub == 0 ? model.left(4) : r.sub == 1 ? model.mid(4, 4) : version.left(4);
        for (int i = 0; i < 4 && i < text.size(); ++i)
            d[static_cast<std::size_t>(i) + 1] = static_cast<quint8>(text.at(i));
        break;
    }
    case 102: {
        const int at = (r.sub & 1) * 256 + r.d[1];
        d[3] =
            readBackOverride.contains(at) ? readBackOverride.value(at) : memory[static_cast<std::size_t>(at)];
        break;
    }
    case 103:
        memory[static_cast<std::size_t>((r.sub & 1) * 256 + r.d[1])] = r.d[3];
        break;
    case 0:
        if (r.sub == 64) {
            for (int i = 0; i < 4; ++i)
                d[static_cast<std::size_t>(i) + 1] = inputs[static_cast<std::size_t>(i)];
        } else if (r.sub < values.size()) {
            const quint32 v = values[r.sub];
            for (int i = 0; i < 4; ++i)
                d[static_cast<std::size_t>(i) + 1] = static_cast<quint8>(v >> (8 * i));
        }
        break;
    case 1:
        for (int i = 0; i < 4; ++i)
            outputs[static_cast<std::size_t>(i)] = r.d[static_cast<std::size_t>(i) + 1];
        break;
    case 100:
        for (int i = 0; i < 4; ++i)
            d[static_cast<std::size_t>(i) + 1] = status[static_cast<std::size_t>(i)];
        break;
    case 101:
        status.fill(0);
        break;
    default:
        break;
    }
    return reply;
}

void TestAdapter::record(const TaCall &c)
{
    calls.append(c);
    if (onCall)
        onCall(c);
}

quint32 TestAdapter::call(const char *prefix, const char *entry, quintptr a0, quintptr a1, quintptr a2,
                          quintptr a3, quintptr a4)
{
    TaCall c;
    c.prefix = QString::fromLatin1(prefix);
    c.entry = QString::fromLatin1(entry);
    c.args = {a0, a1, a2, a3, a4};
    const QString e = c.entry;
    if (e == QLatin1String("Init")) {
        if (c.prefix == QLatin1String("KRQ4638") && a1) {
            const auto *block = reinterpret_cast<const quintptr *>(a1);
            std::memcpy(c.block.data(), block, sizeof(quintptr) * 16);
            if (block[0])
                c.ip = QByteArray(reinterpret_cast<const char *>(block[0]));
        }
        record(c);
        if (initResult == 0)
            *reinterpret_cast<quint32 *>(a0) = handleToIssue;
        return initResult;
    }
    if (e == QLatin1String("SetConfig")) {
        record(c);
        return setConfigResult;
    }
    if (e == QLatin1String("Done")) {
        record(c);
        *reinterpret_cast<quint32 *>(a0) = doneSetsHandleTo;
        return doneResult;
    }
    if (e == QLatin1String("Error")) {
        record(c);
        const quint32 code = static_cast<quint32>(a0);
        const QString text = errorTexts.contains(code) ? errorTexts.value(code)
                             : code == 0               ? QStringLiteral("V pořádku")
                                                       : QStringLiteral("chyba %1").arg(code);
        if (errorWritesNothing)
            return 0;
        auto *buffer = reinterpret_cast<quint32 *>(a1);
        std::memset(buffer, 0, 100 * sizeof(quint32));
        const QByteArray bytes = ToCp1250(text.left(99));
        for (qsizetype i = 0; i < bytes.size(); ++i)
            buffer[i + 1] = static_cast<unsigned char>(bytes.at(i));
        return 0;
    }
    if (e == QLatin1String("Send")) {
        const auto *req = reinterpret_cast<const quint32 *>(a1);
        c.request.address = static_cast<quint8>(req[0]);
        c.request.command = static_cast<quint8>(req[1]);
        c.request.sub = static_cast<quint8>(req[2]);
        for (int i = 0; i < 5; ++i)
            c.request.d[static_cast<std::size_t>(i)] = static_cast<quint8>(req[3 + i]);
        record(c);
        const int index = count(QStringLiteral("Send"));
        TaReply reply;
        if (failSend.contains(index))
            reply.errorWord = failSend.value(index);
        else if (script)
            reply = script(c.request, index);
        else
            reply = model_(c.request);
        if (reply.result == 0 && reply.errorWord == 0) {
            auto *response = reinterpret_cast<quint32 *>(a2);
            if (sendFillsStatus)
                *reinterpret_cast<quint32 *>(a3) = reply.d[0];
            for (int i = 0; i < 4 && sendFillsResponse; ++i)
                response[i] = reply.d[static_cast<std::size_t>(i) + 1];
        }
        *reinterpret_cast<quint32 *>(a4) = reply.errorWord;
        return reply.result;
    }
    record(c);
    return 0;
}
