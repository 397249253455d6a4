#include "support/unprivileged.h"

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <unistd.h>

namespace dvtest {

ChildRun runTestInChild(const QString &function, bool asNobody)
{
    ChildRun run;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    // This executable, also where no application object exists.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    const QStringList testArgs{function, QStringLiteral("-maxwarnings"), QStringLiteral("0")};
    if (asNobody) {
        p.setProgram(QStringLiteral("setpriv"));
        p.setArguments(QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                   QStringLiteral("--clear-groups"), QStringLiteral("--")}
                       + QStringList{exe} + testArgs);
    } else {
        p.setProgram(exe);
        p.setArguments(testArgs);
    }
    // nobody has no home; Qt wants a runtime folder of its own user.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The child runs the case itself, whatever its ids.
    env.insert(QStringLiteral("DV_TEST_CHILD"), QStringLiteral("1"));
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QStringLiteral("/tmp"));
    p.start();
    if (!p.waitForStarted(10000)) {
        run.output = p.errorString();
        return run;
    }
    run.started = true;
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished(5000);
        run.output = QStringLiteral("the child did not finish\n");
    }
    run.output += QString::fromLocal8Bit(p.readAll());
    run.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return run;
}

bool childPassed(const ChildRun &run, const QString &testClass, const QString &function)
{
    if (!run.started || run.exitCode != 0)
        return false;
    const QString name = function.section(QLatin1Char(':'), 0, 0);
    const QString tag = function.section(QLatin1Char(':'), 1);
    QString pass = QStringLiteral("PASS   : %1::%2(").arg(testClass, name);
    if (!tag.isEmpty())
        pass += tag + QLatin1Char(')');
    static const QRegularExpression totals(QStringLiteral("Totals: \\d+ passed, 0 failed, 0 skipped"));
    return run.output.contains(pass) && totals.match(run.output).hasMatch();
}

bool ranAsNobodyInChild()
{
    if (geteuid() != 0 || qEnvironmentVariableIsSet("DV_TEST_CHILD"))
        return false;
    QString function = QString::fromLatin1(QTest::currentTestFunction());
    if (const char *tag = QTest::currentDataTag(); tag && *tag)
        function += QLatin1Char(':') + QString::fromLocal8Bit(tag);
    const ChildRun run = runTestInChild(function, true);
    const QString testClass = QString::fromLatin1(QTest::testObject()->metaObject()->className());
    if (!childPassed(run, testClass, function)) {
        const QByteArray msg =
            QStringLiteral("the case run as nobody did not pass (exit %1):\n%2").arg(run.exitCode).arg(run.output).toLocal8Bit();
        QTest::qFail(msg.constData(), __FILE__, __LINE__);
    }
    return true;
}

} // namespace dvtest
