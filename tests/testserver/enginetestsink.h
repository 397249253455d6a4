// A ResultSink that records what a session reports, for engine tests.
#pragma once

#include "engine/engine.h"

#include <atomic>
#include <string>
#include <vector>

// An atomic flag that can be copied with the sink (tests return sinks by value).
struct CancelFlag {
    std::atomic<bool> v{false};
    CancelFlag() = default;
    CancelFlag(const CancelFlag &o) : v(o.v.load()) {}
    CancelFlag &operator=(const CancelFlag &o) { v = o.v.load(); return *this; }
    CancelFlag &operator=(bool b) { v = b; return *this; }
    operator bool() const { return v.load(); }
};

struct RecordingSink : ts::ResultSink {
    struct Result {
        std::vector<ts::ColumnDef> cols;
        std::vector<std::vector<ts::Value>> rows;
    };
    std::vector<Result> results;
    std::vector<ts::Message> messages;
    struct Done { ts::DoneKind kind; bool error; bool hasCount; uint64_t count; };
    std::vector<Done> dones;
    std::vector<std::pair<std::string, std::string>> dbChanges;
    std::vector<int> statuses;
    std::vector<std::string> events; // "cols", "row", "msg 5701", "done", "doneproc", "status 0", "env"
    CancelFlag cancel;
    int cancelAfterRows = -1;

    void columns(const std::vector<ts::ColumnDef> &c) override { results.push_back({c, {}}); events.push_back("cols"); }
    void row(const std::vector<ts::Value> &v) override
    {
        if (!results.empty()) results.back().rows.push_back(v);
        events.push_back("row");
        if (cancelAfterRows >= 0 && int(results.back().rows.size()) >= cancelAfterRows) cancel = true;
    }
    void message(const ts::Message &m) override { messages.push_back(m); events.push_back("msg " + std::to_string(m.number)); }
    void done(ts::DoneKind k, bool error, bool hasCount, uint64_t count) override
    {
        dones.push_back({k, error, hasCount, count});
        events.push_back(std::string(k == ts::DoneKind::Done ? "done" : k == ts::DoneKind::DoneProc ? "doneproc" : "doneinproc")
                         + (error ? " error" : ""));
    }
    void databaseChanged(const std::string &o, const std::string &n) override { dbChanges.push_back({o, n}); events.push_back("env " + n); }
    void returnStatus(int32_t s) override { statuses.push_back(s); events.push_back("status " + std::to_string(s)); }
    bool cancelled() const override { return cancel; }

    std::vector<int> errorNumbers() const
    {
        std::vector<int> out;
        for (const auto &m : messages) if (m.severity > 10) out.push_back(m.number);
        return out;
    }
    bool anyError() const { return !errorNumbers().empty(); }
    std::string text(size_t result, size_t row, size_t col) const
    {
        const ts::Value &v = results.at(result).rows.at(row).at(col);
        switch (v.kind) {
        case ts::Value::Null: return "NULL";
        case ts::Value::Int: return std::to_string(v.i);
        case ts::Value::Float: return std::to_string(v.d);
        default: return v.s;
        }
    }
    // All error and info texts, one per line.
    std::string allMessages() const
    {
        std::string s;
        for (const auto &m : messages) s += std::to_string(m.number) + ": " + m.text + "\n";
        return s;
    }
};
