// The console's history of texts run while the window is open: stepping back
// and forth, what is kept at each place, and which runs are recorded.
#include "core/sqlhistory.h"

#include <QTest>

class TestSqlHistory : public QObject {
    Q_OBJECT
private slots:
    void steps_data();
    void steps();
};

// Each step: "run <text>" records a run; "up <shown> = <text>" and
// "down <shown> = <text>" step older / newer with the editor showing <shown>
// and expect <text> back ("-": no step possible).
void TestSqlHistory::steps_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("entries");

    QTest::newRow("nothing run: no steps") << QStringList{"up draft = -", "down draft = -"} << QStringList{};
    QTest::newRow("back and forth, draft kept")
        << QStringList{"run a", "run b", "up typed = b", "up b = a", "up a = -", "down a = b", "down b = typed",
                       "down typed = -"}
        << QStringList{"a", "b"};
    QTest::newRow("the text just run is passed over")
        << QStringList{"run a", "run b", "up b = a", "down a = b", "down b = b", "down b = -"} << QStringList{"a", "b"};
    QTest::newRow("a single entry still shows")
        << QStringList{"run a", "up a = a", "up a = -", "down a = a"} << QStringList{"a"};
    QTest::newRow("consecutive repeats kept once")
        << QStringList{"run a", "run a", "run b", "run b", "run a", "up x = a", "up a = b", "up b = a", "up a = -"}
        << QStringList{"a", "b", "a"};
    QTest::newRow("an entry changed but not run comes back")
        << QStringList{"run a", "run b", "up draft = b", "up b2 = a", "down a = b2", "down b2 = draft", "up draft = b2"}
        << QStringList{"a", "b"};
    QTest::newRow("a run starts over: changes dropped, new draft")
        << QStringList{"run a", "run b", "up draft = b", "up b2 = a", "run a", "up a = b", "down b = a",
                       "down a = a", "down a = -"}
        << QStringList{"a", "b", "a"};
    QTest::newRow("an emptied editor is a draft too")
        << QStringList{"run a", "up  = a", "down a = "} << QStringList{"a"};
    QTest::newRow("multi-line texts")
        << QStringList{"run select 1\r\ngo", "up x = select 1\r\ngo"} << QStringList{"select 1\r\ngo"};
}

void TestSqlHistory::steps()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, entries);
    dv::SqlHistory h;
    for (const QString &step : steps) {
        if (step.startsWith("run ")) {
            h.ran(step.mid(4));
            continue;
        }
        const bool up = step.startsWith("up ");
        const qsizetype eq = step.indexOf(" = ");
        QVERIFY2(eq > 0, qPrintable(step));
        const QString shown = step.mid(up ? 3 : 5, eq - (up ? 3 : 5));
        const QString want = step.mid(eq + 3);
        const std::optional<QString> got = up ? h.older(shown) : h.newer(shown);
        if (want == "-")
            QVERIFY2(!got, qPrintable(step + " gave " + got.value_or(QString())));
        else
            QVERIFY2(got && *got == want, qPrintable(step + " gave " + (got ? *got : QString("nothing"))));
    }
    QCOMPARE(h.entries(), entries);
}

QTEST_APPLESS_MAIN(TestSqlHistory)

#include "tst_sqlhistory.moc"
