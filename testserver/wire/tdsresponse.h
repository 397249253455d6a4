// One server response (a tabular-result message) written as tokens and cut
// into packets as it grows, so that large results stream. The last
// DONE-type token is held back until it is known whether more follows: only
// the final one of a response goes out without DONE_MORE.
#pragma once

#include "engine/engine.h"
#include "wire/tdsbuffer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ts::tds {

enum Token : uint8_t {
    TokColMetadata = 0x81,
    TokTabName = 0xA4,
    TokColInfo = 0xA5,
    TokError = 0xAA,
    TokInfo = 0xAB,
    TokReturnValue = 0xAC,
    TokLoginAck = 0xAD,
    TokReturnStatus = 0x79,
    TokRow = 0xD1,
    TokEnvChange = 0xE3,
    TokSspi = 0xED,
    TokDone = 0xFD,
    TokDoneProc = 0xFE,
    TokDoneInProc = 0xFF,
};

enum DoneStatus : uint16_t {
    DoneMore = 0x01,
    DoneError = 0x02,
    DoneCount = 0x10,
    DoneAttn = 0x20,
};

class Response {
public:
    // Writes one whole packet; false when the client is gone.
    using Send = std::function<bool(const std::string &packet)>;

    Response(Send send, uint32_t packetSize, uint16_t spid, uint32_t tdsVersion);
    ~Response();

    uint32_t tdsVersion() const { return m_version; }
    // Appends a token: any held-back DONE goes out first (with DONE_MORE).
    Writer token();
    // Appends a token in front of the held-back DONE (an RPC's RETURNVALUEs
    // go before its DONEPROC); like token() when no DONE is held back.
    Writer beforeDone() { return Writer(m_buf); }
    // Call after appending to token(): sends every full packet.
    void flushFull();
    // A DONE, DONEPROC or DONEINPROC; held back until the next token or finish().
    void done(uint8_t token, uint16_t status, uint64_t count = 0, uint16_t curCmd = 0);
    // Ends the response: the held-back DONE without DONE_MORE (or a DONE of
    // its own when the last token was not a DONE), then the last packet with EOM.
    void finish();
    bool finished() const { return m_finished; }
    bool failed() const { return m_failed; }
    bool lastDoneIs(uint8_t token) const { return m_pending && m_pendingToken == token; }
    // True when an ERROR token went out since the last DONE-type token.
    bool errorSinceDone() const { return m_errorSinceDone; }
    void noteError() { m_errorSinceDone = true; }

private:
    void releasePending(bool more);
    void sendPacket(size_t payloadBytes, bool last);

    Send m_send;
    uint32_t m_payloadMax;
    uint16_t m_spid;
    uint32_t m_version;
    uint8_t m_packetId = 1;
    std::string m_buf;
    bool m_pending = false;
    uint8_t m_pendingToken = 0;
    uint16_t m_pendingStatus = 0;
    uint16_t m_pendingCmd = 0;
    uint64_t m_pendingCount = 0;
    bool m_finished = false;
    bool m_failed = false;
    bool m_errorSinceDone = false;
};

// Single tokens used by login and transaction replies.
void writeEnvChange(Response &r, uint8_t type, const std::string &newValue, const std::string &oldValue);
void writeEnvChangeBytes(Response &r, uint8_t type, const std::string &newValue, const std::string &oldValue);
void writeMessage(Response &r, const Message &m, const std::string &serverName);
void writeLoginAck(Response &r, uint32_t tdsVersion);

// The ResultSink behind every request: turns what a Session reports into tokens.
class TokenSink : public ResultSink {
public:
    TokenSink(Response &r, std::string serverName, std::function<bool()> cancelled);

    void columns(const std::vector<ColumnDef> &cols) override;
    void row(const std::vector<Value> &values) override;
    void message(const Message &m) override;
    void done(DoneKind kind, bool error, bool hasCount, uint64_t count) override;
    void databaseChanged(const std::string &oldDb, const std::string &newDb) override;
    void returnStatus(int32_t status) override;
    bool cancelled() const override;

    void outputValue(const std::string &name, const Value &value) override;

    // Inside an RPC, statement DONEs become DONEINPROC. endRpc() sends a
    // RETURNVALUE token for each of `params` marked output between the
    // RPC's last RETURNSTATUS and its DONEPROC (a procedure the call runs
    // sends a RETURNSTATUS and DONEPROC of its own before): its ordinal the
    // parameter's position in `params` (the client's call), its value the
    // last one outputValue() reported under its name.
    void beginRpc(std::vector<RpcParam> params = {});
    // Closes the RPC with RETURNSTATUS/RETURNVALUE/DONEPROC if the session did not.
    void endRpc();

private:
    void writeReturnValues(bool beforeDone);

    Response &m_r;
    std::string m_serverName;
    std::function<bool()> m_cancelled;
    std::vector<ColumnDef> m_cols;
    bool m_inRpc = false;
    bool m_statusSent = false;
    std::vector<RpcParam> m_outputs;
};

} // namespace ts::tds
