// Test cases that need an unprivileged user (a folder or file the user may
// not write): as root, where permission bits do not bind, the case runs
// again in a child process of the same test executable with nobody's user
// and group ids (setpriv), and the parent checks that it ran and passed.
#pragma once

#include <QString>
#include <QStringList>

namespace dvtest {

struct ChildRun {
    bool started = false;
    int exitCode = -1;
    QString output; // the child's Qt Test log (stdout and stderr)
};

// Runs `function` (optionally "function:tag") of this test executable in a
// child process that runs the case itself (ranAsNobodyInChild() is false
// there); as nobody (uid and gid 65534, no supplementary groups)
// when `asNobody`, else with the caller's own ids.
ChildRun runTestInChild(const QString &function, bool asNobody);

// True when the child's log shows `function` passed, and nothing failed or
// was skipped.
bool childPassed(const ChildRun &run, const QString &testClass, const QString &function);

// For the first line of a case that needs an unprivileged user. Not root (or
// in such a child): returns false and the case runs here. Root: runs the current case (with its
// data tag) as nobody in a child, records a failure with the child's log
// unless it passed, and returns true (the caller returns at once).
bool ranAsNobodyInChild();

} // namespace dvtest
