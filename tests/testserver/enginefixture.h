// The set-up the engine tests share: an engine on a temporary data folder,
// one session of sa in master, and batches run into a RecordingSink.
#pragma once

#include "engine.h"
#include "enginetestsink.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

class EngineFixture {
protected:
    QTemporaryDir m_tmp;
    std::unique_ptr<ts::Engine> m_engine;
    std::unique_ptr<ts::Session> m_session;

    // Starts the engine on <temporary folder>/data and opens m_session;
    // returns what went wrong, empty when both worked.
    std::string startEngine()
    {
        if (!m_tmp.isValid())
            return "no temporary folder: " + m_tmp.errorString().toStdString();
        ts::EngineOptions o;
        o.dataDir = (m_tmp.path() + "/data").toStdString();
        m_engine = std::make_unique<ts::Engine>(o);
        std::string err;
        if (!m_engine->start(&err))
            return "the engine did not start: " + err;
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
    // Runs a batch on `s`, or on m_session when none is given.
    RecordingSink run(const QString &sql, ts::Session *s = nullptr)
    {
        RecordingSink k;
        (s ? s : m_session.get())->executeBatch(sql.toStdString(), k);
        return k;
    }
};
