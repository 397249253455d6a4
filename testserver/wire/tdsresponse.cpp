#include "wire/tdsresponse.h"

#include "wire/tdstypes.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace ts::tds {

Response::Response(Send send, uint32_t packetSize, uint16_t spid, uint32_t tdsVersion)
    : m_send(std::move(send)), m_payloadMax(std::max<uint32_t>(packetSize, 512) - 8), m_spid(spid),
      m_version(tdsVersion)
{
}

Response::~Response() = default;

Writer Response::token()
{
    if (m_pending)
        releasePending(true);
    return Writer(m_buf);
}

void Response::flushFull()
{
    // Keep at least one byte back: the packet that carries EOM must not be empty.
    while (!m_failed && m_buf.size() > m_payloadMax)
        sendPacket(m_payloadMax, false);
    if (m_failed)
        m_buf.clear();
}

void Response::done(uint8_t token, uint16_t status, uint64_t count, uint16_t curCmd)
{
    if (m_pending)
        releasePending(true);
    m_pending = true;
    m_pendingToken = token;
    m_pendingStatus = status;
    m_pendingCmd = curCmd;
    m_pendingCount = count;
    m_errorSinceDone = false;
}

void Response::releasePending(bool more)
{
    m_pending = false;
    Writer w(m_buf);
    w.u8(m_pendingToken);
    w.u16(uint16_t((m_pendingStatus & ~DoneMore) | (more ? DoneMore : 0)));
    w.u16(m_pendingCmd);
    if (m_version >= kTds72)
        w.u64(m_pendingCount);
    else
        w.u32(uint32_t(m_pendingCount));
    flushFull();
}

void Response::finish()
{
    if (m_finished)
        return;
    if (!m_pending)
        done(TokDone, m_errorSinceDone ? DoneError : 0);
    releasePending(false);
    m_finished = true;
    while (!m_failed && !m_buf.empty())
        sendPacket(std::min<size_t>(m_buf.size(), m_payloadMax), m_buf.size() <= m_payloadMax);
    m_buf.clear();
}

void Response::sendPacket(size_t payloadBytes, bool last)
{
    std::string packet;
    packet.reserve(payloadBytes + 8);
    Writer w(packet);
    w.u8(0x04);
    w.u8(last ? 0x01 : 0x00);
    w.u16be(uint16_t(payloadBytes + 8));
    w.u16be(m_spid);
    w.u8(m_packetId++);
    w.u8(0);
    packet.append(m_buf, 0, payloadBytes);
    m_buf.erase(0, payloadBytes);
    if (!m_send(packet))
        m_failed = true;
}

void writeEnvChange(Response &r, uint8_t type, const std::string &newValue, const std::string &oldValue)
{
    std::string body;
    Writer b(body);
    b.u8(type);
    b.bVarchar(newValue);
    b.bVarchar(oldValue);
    Writer w = r.token();
    w.u8(TokEnvChange);
    w.u16(uint16_t(body.size()));
    w.bytes(body);
    r.flushFull();
}

void writeEnvChangeBytes(Response &r, uint8_t type, const std::string &newValue, const std::string &oldValue)
{
    Writer w = r.token();
    w.u8(TokEnvChange);
    w.u16(uint16_t(3 + newValue.size() + oldValue.size()));
    w.u8(type);
    w.u8(uint8_t(newValue.size()));
    w.bytes(newValue);
    w.u8(uint8_t(oldValue.size()));
    w.bytes(oldValue);
    r.flushFull();
}

void writeMessage(Response &r, const Message &m, const std::string &serverName)
{
    std::string body;
    Writer b(body);
    b.u32(uint32_t(m.number));
    b.u8(uint8_t(std::clamp(m.state, 0, 255)));
    b.u8(uint8_t(std::clamp(m.severity, 0, 25)));
    // The message text is limited so that the token length fits its USHORT.
    std::string text = m.text;
    if (text.size() > 16000) {
        size_t cut = 16000;
        while (cut > 0 && (uint8_t(text[cut]) & 0xC0) == 0x80)
            --cut;
        text.resize(cut);
    }
    b.usVarchar(text);
    b.bVarchar(serverName);
    b.bVarchar(m.procedure);
    if (r.tdsVersion() >= kTds72)
        b.u32(uint32_t(m.line));
    else
        b.u16(uint16_t(m.line));
    const bool error = m.severity > 10;
    Writer w = r.token();
    w.u8(error ? TokError : TokInfo);
    w.u16(uint16_t(body.size()));
    w.bytes(body);
    if (error)
        r.noteError();
    r.flushFull();
}

void writeLoginAck(Response &r, uint32_t tdsVersion)
{
    std::string body;
    Writer b(body);
    b.u8(1); // SQL interface
    b.u8(uint8_t(tdsVersion >> 24));
    b.u8(uint8_t(tdsVersion >> 16));
    b.u8(uint8_t(tdsVersion >> 8));
    b.u8(uint8_t(tdsVersion));
    b.bVarchar("Microsoft SQL Server");
    b.u8(15); // 15.0.2000
    b.u8(0);
    b.u8(0x07);
    b.u8(0xD0);
    Writer w = r.token();
    w.u8(TokLoginAck);
    w.u16(uint16_t(body.size()));
    w.bytes(body);
    r.flushFull();
}

TokenSink::TokenSink(Response &r, std::string serverName, std::function<bool()> cancelled)
    : m_r(r), m_serverName(std::move(serverName)), m_cancelled(std::move(cancelled))
{
}

void TokenSink::columns(const std::vector<ColumnDef> &cols)
{
    m_cols = cols;
    if (cols.empty())
        return;
    {
        Writer w = m_r.token();
        w.u8(TokColMetadata);
        w.u16(uint16_t(cols.size()));
        for (const ColumnDef &c : cols) {
            writeColumnType(w, c, m_r.tdsVersion());
            w.bVarchar(c.name);
        }
    }
    m_r.flushFull();

    // Browse-mode base tables: TABNAME and COLINFO right after COLMETADATA.
    std::vector<std::string> tables;
    for (const ColumnDef &c : cols)
        if (!c.baseTable.empty() && std::find(tables.begin(), tables.end(), c.baseTable) == tables.end())
            tables.push_back(c.baseTable);
    if (tables.empty())
        return;
    std::string names;
    Writer n(names);
    for (const std::string &t : tables) {
        std::vector<std::string> parts;
        size_t start = 0;
        for (;;) {
            const size_t dot = t.find('.', start);
            parts.push_back(t.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
            if (dot == std::string::npos)
                break;
            start = dot + 1;
        }
        if (m_r.tdsVersion() >= kTds71) { // 7.1 revision 1 on: multi-part names
            n.u8(uint8_t(parts.size()));
            for (const std::string &p : parts)
                n.usVarchar(p);
        } else {
            n.usVarchar(t);
        }
    }
    std::string info;
    Writer i(info);
    for (size_t k = 0; k < cols.size(); ++k) {
        const ColumnDef &c = cols[k];
        const auto it = std::find(tables.begin(), tables.end(), c.baseTable);
        const bool expr = c.baseTable.empty();
        const bool renamed = !expr && !c.baseColumn.empty() && c.baseColumn != c.name;
        i.u8(uint8_t(k + 1));
        i.u8(expr ? 0 : uint8_t(it - tables.begin() + 1));
        i.u8(uint8_t((expr ? 0x04 : 0) | (c.key ? 0x08 : 0) | (renamed ? 0x20 : 0)));
        if (renamed)
            i.bVarchar(c.baseColumn);
    }
    Writer w = m_r.token();
    w.u8(TokTabName);
    w.u16(uint16_t(names.size()));
    w.bytes(names);
    w.u8(TokColInfo);
    w.u16(uint16_t(info.size()));
    w.bytes(info);
    m_r.flushFull();
}

void TokenSink::row(const std::vector<Value> &values)
{
    if (cancelled() || m_cols.empty())
        return;
    Writer w = m_r.token();
    w.u8(TokRow);
    for (size_t k = 0; k < m_cols.size(); ++k)
        writeValue(w, m_cols[k], k < values.size() ? values[k] : Value::null(), m_r.tdsVersion());
    m_r.flushFull();
}

void TokenSink::message(const Message &m)
{
    writeMessage(m_r, m, m_serverName);
}

void TokenSink::done(DoneKind kind, bool error, bool hasCount, uint64_t count)
{
    uint8_t token = kind == DoneKind::DoneProc ? TokDoneProc : kind == DoneKind::DoneInProc ? TokDoneInProc : TokDone;
    if (m_inRpc && token == TokDone)
        token = TokDoneInProc;
    if (token == TokDoneProc && m_inRpc && !m_statusSent)
        returnStatus(error ? -6 : 0);
    const bool err = error || m_r.errorSinceDone();
    m_r.done(token, uint16_t((err ? DoneError : 0) | (hasCount ? DoneCount : 0)), hasCount ? count : 0,
             m_cols.empty() ? 0 : 0xC1);
    m_cols.clear();
}

void TokenSink::databaseChanged(const std::string &oldDb, const std::string &newDb)
{
    writeEnvChange(m_r, 1, newDb, oldDb);
}

void TokenSink::returnStatus(int32_t status)
{
    {
        Writer w = m_r.token();
        w.u8(TokReturnStatus);
        w.u32(uint32_t(status));
    }
    m_r.flushFull();
    if (m_inRpc)
        m_statusSent = true;
}

bool TokenSink::cancelled() const
{
    return m_cancelled && m_cancelled();
}

void TokenSink::beginRpc(std::vector<RpcParam> outputs)
{
    m_inRpc = true;
    m_statusSent = false;
    m_outputs = std::move(outputs);
    m_cols.clear();
}

void TokenSink::endRpc()
{
    if (m_r.lastDoneIs(TokDoneProc)) {
        writeReturnValues(true); // in front of the held-back DONEPROC
    } else {
        const bool err = m_r.errorSinceDone();
        if (!m_statusSent)
            returnStatus(err ? -6 : 0);
        writeReturnValues(false);
        m_r.done(TokDoneProc, err ? DoneError : 0);
    }
    m_inRpc = false;
}

void TokenSink::outputValue(const std::string &name, const Value &value)
{
    auto same = [](const std::string &a, const std::string &b) {
        return a.size() == b.size()
            && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (RpcParam &p : m_outputs)
        if (p.output && same(p.name, name))
            p.value = value;
}

void TokenSink::writeReturnValues(bool beforeDone)
{
    for (size_t k = 0; k < m_outputs.size(); ++k) {
        const RpcParam &p = m_outputs[k];
        if (!p.output)
            continue;
        Writer w = beforeDone ? m_r.beforeDone() : m_r.token();
        w.u8(TokReturnValue);
        w.u16(uint16_t(k));
        w.bVarchar(p.name);
        w.u8(0x01);
        writeColumnType(w, p.type, m_r.tdsVersion());
        writeValue(w, p.type, p.value, m_r.tdsVersion());
        m_r.flushFull();
    }
}

} // namespace ts::tds
