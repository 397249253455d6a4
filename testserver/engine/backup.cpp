#include "engine/backup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ts {

static const char kMagic[] = "DORVANE-MEDIA 1\n";
// Files of the first format: exactly one set, without a "set" line.
static const char kMagicV1[] = "DORVANE-BACKUP 1\n";

bool fileExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool dirExists(const std::string &path)
{
    struct stat st;
    return ::stat(path.empty() ? "." : path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string parentDir(const std::string &path)
{
    size_t p = path.find_last_of('/');
    if (p == std::string::npos) return ".";
    if (p == 0) return "/";
    return path.substr(0, p);
}

long long fileSize(const std::string &path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

int osErrorNumber(int err, bool directoryMissing)
{
    if (directoryMissing) return 3;
    if (err == EACCES || err == EPERM || err == EROFS) return 5;
    if (err == EISDIR) return 5;
    if (err == ENOSPC) return 112;
    return 2;
}

std::string osErrorText(int err, bool directoryMissing)
{
    int n = osErrorNumber(err, directoryMissing);
    const char *text = n == 3 ? "The system cannot find the path specified."
        : n == 5 ? "Access is denied."
        : n == 112 ? "There is not enough space on the disk."
        : "The system cannot find the file specified.";
    return std::to_string(n) + "(" + text + ")";
}

static bool writeAll(int fd, const char *data, size_t n)
{
    while (n > 0) {
        ssize_t w = ::write(fd, data, n);
        if (w < 0) { if (errno == EINTR) continue; return false; }
        data += w;
        n -= size_t(w);
    }
    return true;
}

static std::string escapeField(const std::string &s)
{
    std::string out;
    for (char c : s) {
        if (c == '\\') out += "\\\\";
        else if (c == '|') out += "\\p";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

static std::vector<std::string> splitFields(const std::string &line)
{
    std::vector<std::string> out(1);
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            char n = line[++i];
            out.back() += n == 'p' ? '|' : n == 'n' ? '\n' : n;
        } else if (c == '|') out.emplace_back();
        else out.back() += c;
    }
    return out;
}

static int copyFileTo(int out, const std::string &from)
{
    int in = ::open(from.c_str(), O_RDONLY);
    if (in < 0) return errno;
    char buf[1 << 16];
    for (;;) {
        ssize_t r = ::read(in, buf, sizeof buf);
        if (r < 0) { if (errno == EINTR) continue; int e = errno; ::close(in); return e; }
        if (r == 0) break;
        if (!writeAll(out, buf, size_t(r))) { int e = errno; ::close(in); return e; }
    }
    ::close(in);
    return 0;
}

static std::string setHeader(const BackupSet &s)
{
    std::ostringstream h;
    h << "set|" << s.position << "\n";
    h << "name|" << escapeField(s.name) << "\n";
    h << "description|" << escapeField(s.description) << "\n";
    h << "database|" << escapeField(s.database) << "\n";
    h << "created|" << escapeField(s.databaseCreated) << "\n";
    h << "started|" << escapeField(s.started) << "\n";
    h << "finished|" << escapeField(s.finished) << "\n";
    h << "server|" << escapeField(s.server) << "\n";
    h << "user|" << escapeField(s.user) << "\n";
    h << "collation|" << escapeField(s.collation) << "\n";
    for (const auto &f : s.files)
        h << "file|" << f.type << "|" << escapeField(f.logical) << "|" << escapeField(f.physical) << "|" << f.sizeKb
          << "|" << f.maxKb << "|" << f.growth << "|" << (f.percentGrowth ? 1 : 0) << "\n";
    return h.str();
}

int writeBackupSet(const std::string &path, const BackupSet &set, const std::string &imagePath, bool overwrite)
{
    std::string text = setHeader(set) + "image|" + std::to_string(fileSize(imagePath)) + "\n";
    if (overwrite || !fileExists(path) || fileSize(path) == 0) {
        text = kMagic + text;
        std::string tmp = path + ".dvpart";
        int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return errno;
        int err = 0;
        if (!writeAll(fd, text.data(), text.size())) err = errno;
        if (!err) err = copyFileTo(fd, imagePath);
        if (!err && ::fsync(fd) != 0) err = errno;
        ::close(fd);
        if (!err && ::rename(tmp.c_str(), path.c_str()) != 0) err = errno;
        if (err) ::unlink(tmp.c_str());
        return err;
    }
    // Appending: the sets already on the media stay as they are.
    int fd = ::open(path.c_str(), O_WRONLY);
    if (fd < 0) return errno;
    off_t old = ::lseek(fd, 0, SEEK_END);
    if (old < 0) { int e = errno; ::close(fd); return e; }
    int err = 0;
    if (!writeAll(fd, text.data(), text.size())) err = errno;
    if (!err) err = copyFileTo(fd, imagePath);
    if (!err && ::fsync(fd) != 0) err = errno;
    if (err && ::ftruncate(fd, old) != 0) { /* the reader rejects the torn tail */ }
    ::close(fd);
    return err;
}

int readBackupMedia(const std::string &path, std::vector<BackupSet> &sets)
{
    sets.clear();
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return errno;
    const long long total = fileSize(path);
    if (total == 0) { std::fclose(f); return 0; }
    char line[8192];
    if (!std::fgets(line, sizeof line, f)) { std::fclose(f); return -1; }
    const bool v1 = std::strcmp(line, kMagicV1) == 0;
    if (!v1 && std::strcmp(line, kMagic) != 0) { std::fclose(f); return -1; }
    auto bad = [&]() { std::fclose(f); sets.clear(); return -1; };
    for (;;) {
        long long here = std::ftell(f);
        if (here == total) break;
        if (v1 && !sets.empty()) return bad();
        BackupSet s;
        s.position = int(sets.size()) + 1;
        bool haveImage = false;
        while (std::fgets(line, sizeof line, f)) {
            std::string l(line);
            if (l.empty() || l.back() != '\n') return bad();
            l.pop_back();
            auto fields = splitFields(l);
            const std::string &k = fields[0];
            if (k == "set" && fields.size() == 2) {
                if (std::atoi(fields[1].c_str()) != s.position) return bad();
            } else if (k == "name" && fields.size() == 2) s.name = fields[1];
            else if (k == "description" && fields.size() == 2) s.description = fields[1];
            else if (k == "database" && fields.size() == 2) s.database = fields[1];
            else if (k == "created" && fields.size() == 2) s.databaseCreated = fields[1];
            else if (k == "started" && fields.size() == 2) s.started = fields[1];
            else if (k == "finished" && fields.size() == 2) s.finished = fields[1];
            else if (k == "server" && fields.size() == 2) s.server = fields[1];
            else if (k == "user" && fields.size() == 2) s.user = fields[1];
            else if (k == "collation" && fields.size() == 2) s.collation = fields[1];
            else if (k == "file" && fields.size() == 8) {
                DbFile df;
                df.type = std::atoi(fields[1].c_str());
                df.logical = fields[2];
                df.physical = fields[3];
                df.sizeKb = std::atoll(fields[4].c_str());
                df.maxKb = std::atoll(fields[5].c_str());
                df.growth = std::atoll(fields[6].c_str());
                df.percentGrowth = fields[7] == "1";
                s.files.push_back(df);
            } else if (k == "image" && fields.size() == 2) {
                s.imageSize = std::atoll(fields[1].c_str());
                haveImage = true;
                break;
            } else return bad();
        }
        if (!haveImage || s.imageSize < 0 || s.database.empty() || s.files.empty()) return bad();
        s.imageOffset = std::ftell(f);
        if (s.imageOffset + s.imageSize > total) return bad();
        if (std::fseek(f, long(s.imageOffset + s.imageSize), SEEK_SET) != 0) return bad();
        if (v1) s.started = s.finished = s.databaseCreated;
        sets.push_back(std::move(s));
    }
    std::fclose(f);
    return 0;
}

int extractBackupImage(const std::string &path, const BackupSet &set, const std::string &target)
{
    int in = ::open(path.c_str(), O_RDONLY);
    if (in < 0) return errno;
    if (::lseek(in, set.imageOffset, SEEK_SET) < 0) { int e = errno; ::close(in); return e; }
    std::string tmp = target + ".dvpart";
    int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) { int e = errno; ::close(in); return e; }
    char buf[1 << 16];
    int err = 0;
    long long left = set.imageSize;
    while (left > 0) {
        ssize_t r = ::read(in, buf, size_t(std::min<long long>(left, sizeof buf)));
        if (r < 0) { if (errno == EINTR) continue; err = errno; break; }
        if (r == 0) { err = EIO; break; }
        if (!writeAll(out, buf, size_t(r))) { err = errno; break; }
        left -= r;
    }
    if (!err && ::fsync(out) != 0) err = errno;
    ::close(out);
    ::close(in);
    if (!err) {
        ::unlink((target + "-wal").c_str());
        ::unlink((target + "-shm").c_str());
        if (::rename(tmp.c_str(), target.c_str()) != 0) err = errno;
    }
    if (err) ::unlink(tmp.c_str());
    return err;
}

} // namespace ts
