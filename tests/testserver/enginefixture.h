// The set-up the engine tests share: an engine on a temporary data folder,
// sessions of their own, and batches run into a RecordingSink.
#pragma once

#include "engine/engine.h"
#include "enginetestsink.h"

#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

#include <memory>
#include <string>

class EngineFixture {
protected:
    QTemporaryDir m_tmp;
    std::unique_ptr<ts::Engine> m_engine;
    std::unique_ptr<ts::Session> m_session;

    QString dataDir() const { return m_tmp.path() + "/data"; }

    // Starts an engine on dataDir(), stopping the one running first; returns
    // what went wrong, empty when it started.
    std::string startBareEngine(bool compat2000 = false)
    {
        stopEngine();
        if (!m_tmp.isValid())
            return "no temporary folder: " + m_tmp.errorString().toStdString();
        ts::EngineOptions o;
        o.dataDir = dataDir().toStdString();
        o.compat2000 = compat2000;
        m_engine = std::make_unique<ts::Engine>(o);
        std::string err;
        if (!m_engine->start(&err))
            return "the engine did not start: " + err;
        return {};
    }
    // The same, then opens m_session: sa in master, spid 60 (tests read it back).
    std::string startEngine()
    {
        const std::string err = startBareEngine();
        if (!err.empty())
            return err;
        ts::Message m;
        m_session = m_engine->openSession("sa", "", 60, &m);
        if (!m_session)
            return "no session: " + m.text;
        return {};
    }
    void stopEngine()
    {
        m_session.reset();
        m_engine.reset();
    }
    // Another session of `user` in `database` (the login's default when
    // empty), each with a spid of its own above m_session's; null, with a
    // warning, when refused.
    std::unique_ptr<ts::Session> openSession(const std::string &database = "", const std::string &user = "sa")
    {
        ts::Message m;
        auto s = m_engine->openSession(user, database, m_nextSpid++, &m);
        if (!s)
            qWarning("openSession: %s", m.text.c_str());
        return s;
    }
    // Runs a batch on `s`.
    RecordingSink run(ts::Session &s, const std::string &sql)
    {
        RecordingSink k;
        s.executeBatch(sql, k);
        return k;
    }
    // Runs a batch on `s`, or on m_session when none is given.
    RecordingSink run(const QString &sql, ts::Session *s = nullptr)
    {
        return run(s ? *s : *m_session, sql.toStdString());
    }

private:
    int m_nextSpid = 61;
};
