// Backup files: a text header (database name, original file list) followed
// by a self-contained image of the database's SQLite file.
#pragma once

#include "catalog.h"

#include <string>

namespace ts {

struct BackupHeader {
    std::string database;
    std::string created;
    std::vector<DbFile> files;
};

// Writes `header` and the contents of `imagePath` to `path` through a
// temporary file and a rename. Returns 0 or an errno value.
int writeBackupFile(const std::string &path, const BackupHeader &header, const std::string &imagePath);

// Reads the header; `imageOffset` is where the image starts. Returns 0,
// an errno value, or -1 when the file is not a backup of this server.
int readBackupHeader(const std::string &path, BackupHeader &header, long long &imageOffset);

// Copies the image part of a backup to `target` through a temporary file.
int extractBackupImage(const std::string &path, long long imageOffset, const std::string &target);

// Windows-style text for an errno value as SQL Server shows it: "3(The system cannot find the path specified.)".
std::string osErrorText(int err, bool directoryMissing);
int osErrorNumber(int err, bool directoryMissing);

bool fileExists(const std::string &path);
bool dirExists(const std::string &path);
std::string parentDir(const std::string &path);
long long fileSize(const std::string &path);

} // namespace ts
