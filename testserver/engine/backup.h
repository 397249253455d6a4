// Backup media: one file holds a media header line and any number of backup
// sets, each a text header (database, dates, original file list) followed by
// a self-contained image of the database's SQLite file. Like SQL Server's
// media, a new set is appended unless the backup overwrites the media.
#pragma once

#include "engine/catalog.h"

#include <string>
#include <vector>

namespace ts {

struct BackupSet {
    int position = 0;           // 1-based place on the media
    std::string name;           // WITH NAME, may be empty
    std::string description;    // WITH DESCRIPTION, may be empty
    std::string database;
    std::string databaseCreated; // "YYYY-MM-DD HH:MM:SS.mmm"
    std::string started, finished;
    std::string server, user, collation;
    std::vector<DbFile> files;
    long long imageOffset = 0;  // where the image starts in the media file
    long long imageSize = 0;
};

// Reads every set on the media. Returns 0, an errno value, or -1 when the
// file is not backup media of this server (or is damaged). An empty file
// holds no sets and is media that a backup may write.
int readBackupMedia(const std::string &path, std::vector<BackupSet> &sets);

// Writes `set` with the contents of `imagePath`. With `overwrite` (or when no
// file exists) the media is rewritten through a temporary file and a rename
// and the set becomes set 1; otherwise the set is appended to the existing
// media, which is cut back to its old length if the write fails. The caller
// sets `set.position`. Returns 0 or an errno value.
int writeBackupSet(const std::string &path, const BackupSet &set, const std::string &imagePath, bool overwrite);

// Copies the image of `set` to `target` through a temporary file.
int extractBackupImage(const std::string &path, const BackupSet &set, const std::string &target);

// Windows-style text for an errno value as SQL Server shows it: "3(The system cannot find the path specified.)".
std::string osErrorText(int err, bool directoryMissing);
int osErrorNumber(int err, bool directoryMissing);

bool fileExists(const std::string &path);
bool dirExists(const std::string &path);
std::string parentDir(const std::string &path);
long long fileSize(const std::string &path);

} // namespace ts
