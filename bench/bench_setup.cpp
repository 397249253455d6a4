// dv_bench_setup: puts the benchmark data on the test server through the
// client layer.
//
//   dv_bench_setup --server H,P --user U --password P
//       [--table NAME --rows N]        a table of N rows x 5 columns
//       [--small-db NAME]              a small database for the backup run
//       [--databases N]                databases dbNNNNN until the server holds N
//       [--per-batch N]                create statements per batch (default 200)
#include "benchutil.h"
#include "session.h"

#include "client/dbclient.h"
#include "client/query.h"
#include "client/resultset.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

namespace {

void run(dv::Connection &conn, const QString &sql)
{
    dv::Statement st;
    st.text = sql;
    st.timeoutSec = 0;
    conn.execute(st);
}

int count(dv::Connection &conn, const QString &sql)
{
    dv::Statement st;
    st.text = sql;
    st.timeoutSec = 0;
    auto r = conn.open(st);
    return r.rows && r.rows->rowCount() > 0 ? r.rows->value(0, 0).toInt() : -1;
}

// Row k: an int, a text of 14..33 characters (Chinese and Latin), a float, a
// date-time and a decimal(12,2).
QString rowValues(qint64 k, const QDateTime &base)
{
    static const QString tail = QStringLiteral("abcdefghijklmnopqrst");
    const QString name = QStringLiteral("名称-%1-").arg(k, 7, 10, QLatin1Char('0')) + tail.left(int(k % 20));
    const QString when = base.addMSecs(k * 1000 + (k % 3) * 3).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    const qint64 cents = (k * 7919) % 10000000000LL - 5000000000LL;
    const QString amount = QStringLiteral("%1%2.%3")
                               .arg(cents < 0 ? QStringLiteral("-") : QString())
                               .arg(qAbs(cents) / 100)
                               .arg(qAbs(cents) % 100, 2, 10, QLatin1Char('0'));
    return QStringLiteral("(%1, N'%2', %3, '%4', %5)")
        .arg(k)
        .arg(name)
        .arg(QString::number(double(k) * 0.125 + 0.001, 'g', 17))
        .arg(when, amount);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const bench::Args args = bench::parseArgs(argc, argv);
    try {
        auto conn = dv::makeOdbcConnection();
        bench::openConnection(*conn, args);

        const QString table = args.value(QStringLiteral("--table"));
        const qint64 rows = args.value(QStringLiteral("--rows"), QStringLiteral("0")).toLongLong();
        if (!table.isEmpty() && rows > 0) {
            const double t0 = bench::nowSec();
            run(*conn, QStringLiteral("create table %1(id int not null, name nvarchar(40), val float, "
                                      "ts datetime, amount decimal(12,2))")
                           .arg(table));
            const QDateTime base(QDate(2020, 1, 1), QTime(0, 0));
            const int perBatch = 1000;
            for (qint64 k = 0; k < rows; k += perBatch) {
                QString sql = QStringLiteral("insert into %1 values ").arg(table);
                const qint64 end = qMin(rows, k + perBatch);
                for (qint64 j = k; j < end; ++j) {
                    if (j > k)
                        sql += QLatin1Char(',');
                    sql += rowValues(j, base);
                }
                run(*conn, sql);
            }
            const int n = count(*conn, QStringLiteral("select count(*) from %1").arg(table));
            if (n != rows) {
                std::fprintf(stderr, "dv_bench_setup: %s holds %d rows, not %lld\n", qPrintable(table), n,
                             static_cast<long long>(rows));
                return 1;
            }
            bench::report("fill_rows", double(rows));
            bench::report("fill_s", bench::nowSec() - t0);
        }

        const QString smallDb = args.value(QStringLiteral("--small-db"));
        if (!smallDb.isEmpty()) {
            run(*conn, QStringLiteral("create database %1").arg(smallDb));
            run(*conn, QStringLiteral("use %1").arg(smallDb));
            run(*conn, QStringLiteral("create table t(id int not null primary key, name nvarchar(40))"));
            QString sql = QStringLiteral("insert into t values ");
            for (int k = 0; k < 500; ++k)
                sql += QStringLiteral("%1(%2, N'行%2')").arg(k ? QStringLiteral(",") : QString()).arg(k);
            run(*conn, sql);
            run(*conn, QStringLiteral("use master"));
        }

        const int target = args.value(QStringLiteral("--databases"), QStringLiteral("0")).toInt();
        if (target > 0) {
            const int perBatch = args.value(QStringLiteral("--per-batch"), QStringLiteral("200")).toInt();
            const double t0 = bench::nowSec();
            int have = count(*conn, QStringLiteral("select count(*) from master..sysdatabases"));
            const int start = have;
            // Continue after the databases an earlier run created.
            int next = count(*conn, QStringLiteral("select count(*) from master..sysdatabases where name like 'db%'")) + 1;
            QList<double> batchTimes;
            while (have < target) {
                const int n = qMin(perBatch, target - have);
                QString sql;
                for (int i = 0; i < n; ++i)
                    sql += QStringLiteral("create database db%1\r\n").arg(next++, 5, 10, QLatin1Char('0'));
                const double b0 = bench::nowSec();
                run(*conn, sql);
                batchTimes << bench::nowSec() - b0;
                have += n;
                if (batchTimes.size() % 20 == 0)
                    bench::note(QStringLiteral("%1 databases, last batch of %2 took %3 s")
                                    .arg(have)
                                    .arg(n)
                                    .arg(batchTimes.last(), 0, 'f', 2));
            }
            have = count(*conn, QStringLiteral("select count(*) from master..sysdatabases"));
            bench::report("databases", have);
            bench::report("databases_created", have - start);
            bench::report("create_s", bench::nowSec() - t0);
            if (have < target) {
                std::fprintf(stderr, "dv_bench_setup: the server holds %d databases, not %d\n", have, target);
                return 1;
            }
        }
        conn->close();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "dv_bench_setup: %s\n", e.what());
        return 1;
    }
    return 0;
}
