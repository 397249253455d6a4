// Internals shared by the engine's source files.
#pragma once

#include "engine/catalog.h"
#include "engine/engine.h"
#include "tsql/sqltranslate.h"

#include <map>
#include <mutex>
#include <set>

namespace ts {

class SessionImpl;

struct Engine::Impl {
    EngineOptions opts;
    std::mutex mu;          // catalogue, files and the session registry
    Catalog catalog;
    std::map<int, SessionImpl *> sessions;

    std::string versionText() const;
    // The default backup folder, where a backup to a relative path lands.
    std::string backupDir() const { return opts.dataDir + "/Backup"; }
    // Creates the SQLite file of a database with the server's own tables.
    bool initDatabaseFile(const std::string &path, const std::string &dataLogical, const std::string &logLogical,
                          std::string *error);
    // Makes sure a lazily registered database has its files (caller holds mu).
    bool materialise(DbInfo &info, std::string *error);
    // True when a session other than `self` has `db` as its current or attached database.
    bool inUse(const std::string &db, const SessionImpl *self) const;
    void dropTempTables(int spid);
    sqlite3 *openConnection(const std::string &path, const std::string *currentDb, std::string *error);
};

} // namespace ts
