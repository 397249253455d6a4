// Small helpers shared by the benchmark programs: clocks, resident memory,
// command-line server arguments and the "RESULT key value" output lines that
// bench/run collects.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>

namespace bench {

// Seconds on the steady clock.
double nowSec();
// CPU time of the calling thread in seconds: steadier than wall time when
// other processes compete for the cores.
double threadCpuSec();
// CLOCK_MONOTONIC in nanoseconds: comparable between processes.
std::int64_t monotonicNs();

// Resident set size and its peak (VmRSS, VmHWM) of this process, in KiB.
long rssKb();
long peakRssKb();
// Resets the peak to the current resident size (Linux clear_refs); false when
// the kernel refused.
bool resetPeakRss();

// One result line: "RESULT <key> <value>".
void report(const char *key, double value);
void report(const QString &key, double value);
void note(const QString &text); // "NOTE <text>" for the log of a run

// --server HOST,PORT --user U --password P, plus any other "--name value"
// pairs; the first bare word after the options is not used.
struct Args {
    QString server;
    QString user;
    QString password;
    QStringList rest;
    QString value(const QString &name, const QString &fallback = {}) const;
    bool flag(const QString &name) const;
};
Args parseArgs(int argc, char **argv);

// Median of a list of samples (the list is copied and sorted).
double median(QList<double> samples);

} // namespace bench
