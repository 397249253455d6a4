#include "benchutil.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace bench {

double nowSec()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double threadCpuSec()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

namespace {

long statusField(const char *field)
{
    FILE *f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long value = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            value = std::strtol(line + n + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

} // namespace

long rssKb() { return statusField("VmRSS"); }
long peakRssKb() { return statusField("VmHWM"); }

bool resetPeakRss()
{
    FILE *f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

void report(const char *key, double value)
{
    std::printf("RESULT %s %.6f\n", key, value);
    std::fflush(stdout);
}

void report(const QString &key, double value) { report(key.toUtf8().constData(), value); }

void note(const QString &text)
{
    std::printf("NOTE %s\n", text.toUtf8().constData());
    std::fflush(stdout);
}

QString Args::value(const QString &name, const QString &fallback) const
{
    const qsizetype i = rest.indexOf(name);
    return i >= 0 && i + 1 < rest.size() ? rest.at(i + 1) : fallback;
}

bool Args::flag(const QString &name) const { return rest.contains(name); }

Args parseArgs(int argc, char **argv)
{
    Args a;
    for (int i = 1; i < argc; ++i) {
        const QString s = QString::fromLocal8Bit(argv[i]);
        if (s == QLatin1String("--server") && i + 1 < argc)
            a.server = QString::fromLocal8Bit(argv[++i]);
        else if (s == QLatin1String("--user") && i + 1 < argc)
            a.user = QString::fromLocal8Bit(argv[++i]);
        else if (s == QLatin1String("--password") && i + 1 < argc)
            a.password = QString::fromLocal8Bit(argv[++i]);
        else
            a.rest << s;
    }
    return a;
}

double median(QList<double> samples)
{
    if (samples.isEmpty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const qsizetype n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
}

} // namespace bench
