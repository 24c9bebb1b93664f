#include "gateway/ModbusFrames.h"

namespace {
int word(const QByteArray &b, qsizetype at)
{
    return quint8(b[at]) << 8 | quint8(b[at + 1]);
}
void putWord(QByteArray &b, int v)
{
    b.append(char(v >> 8));
    b.append(char(v));
}
QByteArray frame(const ModbusRequest &q, const QByteArray &pdu)
{
    QByteArray a;
    a.reserve(7 + pdu.size());
    putWord(a, q.transaction);
    putWord(a, 0);
    putWord(a, int(pdu.size()) + 1);
    a.append(char(q.unit));
    a.append(pdu);
    return a;
}
RequestDecision refuse(const ModbusRequest &q, quint8 exception)
{
    RequestDecision d;
    d.exception = exception;
    d.answer = ExceptionAnswer(q, exception);
    return d;
}
QByteArray bits(int function, quint32 from, int address, int count)
{
    QByteArray pdu(2 + (count + 7) / 8, '\0');
    pdu[0] = char(function);
    pdu[1] = char((count + 7) / 8);
    for (int n = 0; n < count; ++n)
        if ((from >> (address + n)) & 1)
            pdu[2 + n / 8] = char(quint8(pdu[2 + n / 8]) | 1 << (n % 8));
    return pdu;
}

// Read Device Identification (function 43, MEI type 14) of a module that
// identified itself: vendor, model, firmware and its address on the bus.
RequestDecision deviceIdentification(const ModbusRequest &q, const ModuleSnapshot &m)
{
    using namespace ModbusException;
    const QByteArray &pdu = q.pdu;
    if (pdu.size() < 2 || quint8(pdu[1]) != 0x0E)
        return refuse(q, IllegalFunction); // other MEI types (CANopen) are not served
    const int code = pdu.size() == 4 ? quint8(pdu[2]) : 0;
    if (code < 1 || code > 4)
        return refuse(q, IllegalValue);
    // Known only once the module answered its identification; identity,
    // unlike values, does not go stale.
    if (m.model.isEmpty())
        return refuse(q, TargetFailed);
    const std::pair<quint8, QByteArray> objects[] = {
        {DeviceId::VendorName, QByteArrayLiteral("RQ")},
        {DeviceId::ProductCode, m.model.toLatin1()},
        {DeviceId::Revision, m.firmware.toLatin1()},
        {DeviceId::UserApplicationName, QByteArray::number(m.address)},
    };
    const quint8 wanted = quint8(pdu[3]);
    // Basic is objects 0..2; regular (and extended: the module has no
    // private objects) all of them.
    const quint8 last = code == 1 ? DeviceId::Revision : 0xFF;
    quint8 first = 0;
    bool known = false;
    for (const auto &[id, value] : objects)
        known |= id == wanted && id <= last;
    if (code == 4 && !known)
        return refuse(q, IllegalAddress);
    if (known)
        first = wanted; // else the stream starts over at the first object
    QByteArray a;
    a.append(char(43));
    a.append(char(0x0E));
    a.append(char(code));
    a.append(char(DeviceId::Conformity));
    a.append(char(0)); // no more follows: everything fits one answer
    a.append(char(0));
    a.append(char(0)); // the number of objects, below
    int count = 0;
    for (const auto &[id, value] : objects) {
        if (id < first || id > last || (code == 4 && id != wanted))
            continue;
        a.append(char(id));
        a.append(char(value.size()));
        a.append(value);
        ++count;
    }
    a[6] = char(count);
    RequestDecision d;
    d.answer = frame(q, a);
    return d;
}
} // namespace

void FrameAssembler::feed(const char *data, qsizetype size)
{
    if (m_broken || size <= 0)
        return;
    // What the requests took is dropped before it could pile up.
    if (m_start > 0 && m_start >= m_buffer.size() / 2) {
        m_buffer.remove(0, m_start);
        m_start = 0;
    }
    m_buffer.append(data, size);
}

std::optional<ModbusRequest> FrameAssembler::next()
{
    const qsizetype have = pending();
    if (m_broken || have < 4)
        return std::nullopt;
    const char *p = m_buffer.constData() + m_start;
    // The protocol id is known after four bytes: a stranger is told off
    // before the rest of its frame arrives.
    if (p[2] != 0 || p[3] != 0) {
        m_broken = true;
        return std::nullopt;
    }
    if (have < 6)
        return std::nullopt;
    const int length = quint8(p[4]) << 8 | quint8(p[5]);
    if (length < 2 || length > MaxFrame - 6) {
        m_broken = true;
        return std::nullopt;
    }
    if (have < 6 + length)
        return std::nullopt;
    ModbusRequest q;
    q.transaction = quint16(quint8(p[0]) << 8 | quint8(p[1]));
    q.unit = quint8(p[6]);
    q.pdu = QByteArray(p + 7, length - 1);
    m_start += 6 + length;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    }
    return q;
}

QByteArray ExceptionAnswer(const ModbusRequest &q, quint8 exception)
{
    const quint8 function = q.pdu.isEmpty() ? 0 : quint8(q.pdu[0]);
    QByteArray pdu;
    pdu.append(char(function | 0x80));
    pdu.append(char(exception));
    return frame(q, pdu);
}

QByteArray WriteAnswer(const ModbusRequest &q, quint8 exception)
{
    if (exception)
        return ExceptionAnswer(q, exception);
    // Function 5 echoes its request, function 15 its address and quantity.
    return frame(q, q.pdu.left(5));
}

RequestDecision DecideRequest(const ModbusRequest &q, const ModuleSnapshot *m, bool allowWrites, qint64 nowMs,
                              qint64 staleMs, bool lowWordFirst)
{
    using namespace ModbusException;
    const QByteArray &pdu = q.pdu;
    const qsizetype size = pdu.size();
    RequestView r;
    r.function = quint8(pdu[0]);
    if (size >= 5) {
        r.address = word(pdu, 1);
        r.count = r.function == 5 ? 1 : word(pdu, 3);
    }
    if (const auto e = RequestException(m, r, allowWrites, nowMs, staleMs))
        return refuse(q, *e);
    // From here on m is a module, and the request's place in the map is
    // allowed: what is left is its form.
    RequestDecision d;
    switch (r.function) {
    case 1:
    case 2:
        if (size != 5 || r.count < 1 || r.count > 2000)
            return refuse(q, IllegalValue);
        d.answer = frame(q, bits(r.function, r.function == 1 ? m->dout : m->din, r.address, r.count));
        return d;
    case 3:
    case 4: {
        if (size != 5 || r.count < 1 || r.count > 125)
            return refuse(q, IllegalValue);
        const auto regs = InputRegisters(*m, nowMs, lowWordFirst);
        QByteArray a;
        a.append(char(r.function));
        a.append(char(2 * r.count));
        for (int n = 0; n < r.count; ++n)
            putWord(a, regs[std::size_t(r.address + n)]);
        d.answer = frame(q, a);
        return d;
    }
    case 5:
    case 15: {
        // A coil write is carried out by the polling thread or refused
        // here, before anything reaches the outputs.
        CoilWrite w;
        w.unit = q.unit;
        w.address = r.address;
        w.count = r.count;
        if (r.function == 5) {
            const int v = size == 5 ? word(pdu, 3) : -1;
            if (v != 0xFF00 && v != 0)
                return refuse(q, IllegalValue);
            w.values = v ? 1 : 0;
        } else {
            if (r.count < 1 || r.count > 1968 || r.address + r.count > RegisterMap::Coils)
                return refuse(q, IllegalValue);
            const int bytes = size > 5 ? quint8(pdu[5]) : -1;
            if (bytes != (r.count + 7) / 8 || size != 6 + bytes)
                return refuse(q, IllegalValue);
            for (int n = 0; n < r.count; ++n)
                w.values |= quint32((quint8(pdu[6 + n / 8]) >> (n % 8)) & 1) << n;
        }
        d.write = w;
        return d;
    }
    case 17: {
        // Report server id: the unit, whether its module answers, its model.
        if (size != 1)
            return refuse(q, IllegalValue);
        const QByteArray text = m->model.isEmpty() ? QByteArrayLiteral("RQ") : m->model.toLatin1();
        QByteArray a;
        a.append(char(17));
        a.append(char(2 + text.size()));
        a.append(char(q.unit));
        a.append(char(m->online ? 0xFF : 0x00));
        a.append(text);
        d.answer = frame(q, a);
        return d;
    }
    case 43:
        return deviceIdentification(q, *m);
    default:
        return refuse(q, IllegalFunction);
    }
}
