#include "backup.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ts {

static const char kMagic[] = "DORVANE-BACKUP 1\n";

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

int writeBackupFile(const std::string &path, const BackupHeader &header, const std::string &imagePath)
{
    std::ostringstream h;
    h << kMagic;
    h << "database|" << escapeField(header.database) << "\n";
    h << "created|" << escapeField(header.created) << "\n";
    for (const auto &f : header.files)
        h << "file|" << f.type << "|" << escapeField(f.logical) << "|" << escapeField(f.physical) << "|" << f.sizeKb
          << "|" << f.maxKb << "|" << f.growth << "|" << (f.percentGrowth ? 1 : 0) << "\n";
    h << "image|" << fileSize(imagePath) << "\n";
    std::string text = h.str();
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

int readBackupHeader(const std::string &path, BackupHeader &header, long long &imageOffset)
{
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return errno;
    char line[8192];
    if (!std::fgets(line, sizeof line, f) || std::strcmp(line, kMagic) != 0) { std::fclose(f); return -1; }
    long long imageSize = -1;
    while (std::fgets(line, sizeof line, f)) {
        std::string l(line);
        if (!l.empty() && l.back() == '\n') l.pop_back();
        auto fields = splitFields(l);
        if (fields[0] == "database" && fields.size() == 2) header.database = fields[1];
        else if (fields[0] == "created" && fields.size() == 2) header.created = fields[1];
        else if (fields[0] == "file" && fields.size() == 8) {
            DbFile df;
            df.type = std::atoi(fields[1].c_str());
            df.logical = fields[2];
            df.physical = fields[3];
            df.sizeKb = std::atoll(fields[4].c_str());
            df.maxKb = std::atoll(fields[5].c_str());
            df.growth = std::atoll(fields[6].c_str());
            df.percentGrowth = fields[7] == "1";
            header.files.push_back(df);
        } else if (fields[0] == "image" && fields.size() == 2) {
            imageSize = std::atoll(fields[1].c_str());
            break;
        } else { std::fclose(f); return -1; }
    }
    imageOffset = std::ftell(f);
    std::fclose(f);
    if (imageSize < 0 || header.database.empty() || header.files.empty()) return -1;
    if (fileSize(path) != imageOffset + imageSize) return -1;
    return 0;
}

int extractBackupImage(const std::string &path, long long imageOffset, const std::string &target)
{
    int in = ::open(path.c_str(), O_RDONLY);
    if (in < 0) return errno;
    if (::lseek(in, imageOffset, SEEK_SET) < 0) { int e = errno; ::close(in); return e; }
    std::string tmp = target + ".dvpart";
    int out = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) { int e = errno; ::close(in); return e; }
    char buf[1 << 16];
    int err = 0;
    for (;;) {
        ssize_t r = ::read(in, buf, sizeof buf);
        if (r < 0) { if (errno == EINTR) continue; err = errno; break; }
        if (r == 0) break;
        if (!writeAll(out, buf, size_t(r))) { err = errno; break; }
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
