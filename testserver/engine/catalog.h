// The server catalogue: databases, their files and backup devices, kept in
// catalog.db under the data folder. Callers serialise access (Engine's lock).
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace ts {

struct DbFile {
    std::string logical;    // "D_dat"
    std::string physical;   // full path
    int type = 0;           // 0 data, 1 log
    int64_t sizeKb = 0;
    int64_t maxKb = -1;     // -1 unlimited
    int64_t growth = 0;     // KB, or percent when percentGrowth
    bool percentGrowth = false;
};

struct DbInfo {
    std::string name;
    int dbid = 0;
    std::string crdate;     // "YYYY-MM-DD HH:MM:SS.mmm"
    std::vector<DbFile> files; // data file first
    bool pending = false;   // registered, data file not created yet

    const DbFile *dataFile() const;
    const DbFile *logFile() const;
};

struct Device {
    std::string name;
    std::string phyname;
    int cntrltype = 2;      // 2 = disk
};

class Catalog {
public:
    ~Catalog();
    bool open(const std::string &dataDir, int cmptlevel, std::string *error);
    const std::string &path() const { return m_path; }
    sqlite3 *db() const { return m_db; }

    std::optional<DbInfo> find(const std::string &name);
    bool add(DbInfo &info, std::string *error);   // assigns dbid when 0
    bool remove(const std::string &name);
    bool markCreated(const std::string &name);
    int count();
    int freeDbid();

    std::optional<Device> device(const std::string &name);
    bool addDevice(const Device &dev);
    bool dropDevice(const std::string &name);

    // A login made with CREATE LOGIN: true when the password matches; `name` gets the stored spelling.
    bool checkLogin(const std::string &user, const std::string &password, std::string *name);

    static std::string now();

private:
    bool exec(const std::string &sql, std::string *error = nullptr);
    sqlite3 *m_db = nullptr;
    std::string m_path;
    int m_cmptlevel = 150;
};

} // namespace ts
