// A table holding every data type the server has, created, filled, read and
// edited through the console window as the operator does it, with a second
// connection checking after each edit that only the edited cell changed.
#include "app/application.h"
#include "console/resultgrid.h"
#include "console/resultmodel.h"
#include "main/tfmain.h"
#include "support/consolee2e.h"
#include "support/operatorinput.h"

#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QHeaderView>
#include <QTest>

#include <memory>

namespace {

constexpr int kRows = 3;

// One column of the table: its declaration, the SQL literal each row (k = 1,
// 2, 3) is filled with ("" leaves it to the server), the grid's text for each
// row ("" for what only the server knows: then the checking connection's
// read must match it), and what the checking connection reads, `%1` standing
// for the column's name.
struct TypeColumn {
    QString name;
    QString type;
    QStringList values;
    QStringList shown;
    QString read;
};

const QString kXml = QStringLiteral("<r a=\"1\"><i>中</i></r>");

// The columns after k (int primary key) and note (nvarchar, the one edited).
const QList<TypeColumn> &everyType()
{
    static const QList<TypeColumn> cols{
        {"vc", "varchar(30)", {"'plain'", "''", "NULL"}, {"plain", "", "(NULL)"}, "%1"},
        {"nv", "nvarchar(30)", {"N'中文'", "N'€uro'", "NULL"}, {"中文", "€uro", "(NULL)"}, "%1"},
        {"dc", "decimal(10,3)", {"12.5", "-0.001", "NULL"}, {"12.500", "-0.001", "(NULL)"}, "%1"},
        {"d2", "datetime2", {"'2024-05-06 07:08:09.1234567'", "'0001-01-01'", "NULL"},
         {"2024-05-06 07:08:09.1234567", "0001-01-01 00:00:00.0000000", "(NULL)"}, "%1"},
        {"dt", "datetime", {"'2024-01-02 03:04:05.997'", "'1753-01-01'", "NULL"},
         {"2024-01-02 03:04:05.997", "1753-01-01 00:00:00", "(NULL)"}, "convert(varchar(30), %1, 121)"},
        {"sd", "smalldatetime", {"'2024-01-02 03:04:29.999'", "'1900-01-01'", "NULL"},
         {"2024-01-02 03:05:00", "1900-01-01 00:00:00", "(NULL)"}, "convert(varchar(30), %1, 120)"},
        {"dz", "datetimeoffset", {"'0012-03-04 05:06:07.1234567 +01:00'", "'2024-05-06 07:08:09 -08:00'", "NULL"},
         {"0012-03-04 05:06:07.1234567 +01:00", "2024-05-06 07:08:09.0000000 -08:00", "(NULL)"},
         "convert(varchar(40), %1, 121)"},
        {"tm", "time", {"'23:59:59.9999999'", "'00:00:00'", "NULL"}, {"23:59:59.9999999", "00:00:00.0000000", "(NULL)"},
         "%1"},
        {"dd", "date", {"'2024-02-29'", "'9999-12-31'", "NULL"}, {"2024-02-29", "9999-12-31", "(NULL)"}, "%1"},
        {"bi", "bigint", {"-9223372036854775808", "9223372036854775807", "NULL"},
         {"-9223372036854775808", "9223372036854775807", "(NULL)"}, "%1"},
        {"si", "smallint", {"-32768", "32767", "NULL"}, {"-32768", "32767", "(NULL)"}, "%1"},
        {"ti", "tinyint", {"0", "255", "NULL"}, {"0", "255", "(NULL)"}, "%1"},
        {"fl", "float", {"1.5", "-2.5e300", "NULL"}, {"1.5", "-2.5e+300", "(NULL)"}, "%1"},
        {"re", "real", {"2.25", "-0.5", "NULL"}, {"2.25", "-0.5", "(NULL)"}, "%1"},
        {"mo", "money", {"12.5", "-922337203685477.5808", "NULL"}, {"12.5000", "-922337203685477.5808", "(NULL)"}, "%1"},
        {"sm", "smallmoney", {"-1.25", "214748.3647", "NULL"}, {"-1.2500", "214748.3647", "(NULL)"}, "%1"},
        {"ch", "char(5)", {"'ab'", "'abcde'", "NULL"}, {"ab   ", "abcde", "(NULL)"}, "%1"},
        {"nc", "nchar(3)", {"N'中'", "N'xyz'", "NULL"}, {"中  ", "xyz", "(NULL)"}, "%1"},
        {"bn", "binary(4)", {"0x01020304", "0x01", "NULL"}, {"0x01020304", "0x01000000", "(NULL)"}, "%1"},
        {"bt", "bit", {"1", "0", "NULL"}, {"1", "0", "(NULL)"}, "%1"},
        {"vb", "varbinary(16)", {"0x00AB10", "0x", "NULL"}, {"0x00AB10", "0x", "(NULL)"}, "%1"},
        {"ui", "uniqueidentifier", {"'6F9619FF-8B86-D011-B42D-00C04FC964FF'", "'00000000-0000-0000-0000-000000000000'", "NULL"},
         {"6F9619FF-8B86-D011-B42D-00C04FC964FF", "00000000-0000-0000-0000-000000000000", "(NULL)"}, "%1"},
        {"x", "xml", {"N'" + kXml + "'", "N'<o/>'", "NULL"}, {kXml, "<o />", "(NULL)"},
         "cast(%1 as nvarchar(max))"},
        {"sv", "sql_variant", {"cast(5 as int)", "N'abc'", "cast(2.50 as decimal(5,2))"}, {"5", "abc", "2.50"},
         "cast(%1 as nvarchar(50)) + '/' + cast(sql_variant_property(%1, 'BaseType') as nvarchar(20))"},
        {"h", "hierarchyid", {"'/1/'", "'/1/1/3/'", "hierarchyid::GetRoot()"}, {"0x58", "0x5ADE", "0x"},
         "%1.ToString()"},
        {"ph", "dbo.phone", {"'555-0100'", "'555-0200'", "NULL"}, {"555-0100", "555-0200", "(NULL)"}, "%1"},
        {"tx", "text", {"'legacy text'", "''", "NULL"}, {"legacy text", "", "(NULL)"},
         "cast(%1 as varchar(max))"},
        {"nt", "ntext", {"N'长文本'", "N'n'", "NULL"}, {"长文本", "n", "(NULL)"}, "cast(%1 as nvarchar(max))"},
        {"im", "image", {"0x0102FF", "0x00", "NULL"}, {"0x0102FF", "0x00", "(NULL)"}, "cast(%1 as varbinary(max))"},
        {"gg", "geography", {"geography::Point(47.651, -122.349, 4326)", "NULL", "geography::Point(47.65, -122.34, 4326)"},
         {"0xE6100000010C17D9CEF753D347407593180456965EC0", "(NULL)", "0xE6100000010C3333333333D34740F6285C8FC2955EC0"},
         "%1.STAsText()"},
        {"gm", "geometry", {"geometry::STGeomFromText('POINT (3 4)', 0)", "geometry::STGeomFromText('LINESTRING (0 0, 2 2)', 0)", "NULL"},
         {"0x00000000010C00000000000008400000000000001040",
          "0x0000000001140000000000000000000000000000000000000000000000400000000000000040", "(NULL)"},
         "%1.STAsText()"},
        {"rv", "rowversion", {"", "", ""}, {"", "", ""}, "cast(%1 as binary(8))"},
    };
    return cols;
}

QString createTable()
{
    QString sql = "create type dbo.phone from varchar(20)\r\ncreate table ev (k int primary key, note nvarchar(40) null";
    for (const TypeColumn &c : everyType())
        sql += ", " + c.name + " " + c.type + (c.type == "rowversion" ? "" : " null");
    return sql + ")";
}

QString insertRows()
{
    QStringList lines;
    for (int r = 0; r < kRows; ++r) {
        QStringList names{"k", "note"}, values{QString::number(r + 1), QString("N'n%1'").arg(r + 1)};
        for (const TypeColumn &c : everyType()) {
            if (!c.values[r].isEmpty()) {
                names << c.name;
                values << c.values[r];
            }
        }
        lines << "insert into ev (" + names.join(", ") + ") values (" + values.join(", ") + ")";
    }
    return lines.join("\r\n");
}

QString selectAll()
{
    QStringList names{"k", "note"};
    for (const TypeColumn &c : everyType())
        names << c.name;
    return "select " + names.join(", ") + " from ev order by k";
}

// What the checking connection reads: one row of texts per table row.
QString checkQuery()
{
    QStringList reads{"k", "note"};
    for (const TypeColumn &c : everyType())
        reads << c.read.arg(c.name);
    return "select " + reads.join(", ") + " from ev order by k";
}

int columnOf(const QString &name)
{
    for (int i = 0; i < everyType().size(); ++i)
        if (everyType()[i].name == name)
            return i + 2;
    return -1;
}

} // namespace

class TestEveryTypeE2e : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void everyTypeReadCopiedEdited();
    void hierarchyidShownCopiedSortedNotTyped();

private:
    // The table as the checking connection reads it, cell by cell.
    QList<QStringList> stored();
    // Types `text` into the cell, posts it, and checks that on the server
    // exactly that cell changed (and the row's rowversion, which every
    // update moves on once), against `before`.
    void editAndCheck(int row, const QString &column, const QString &text, const QString &stored,
                      QList<QStringList> &before);

    std::unique_ptr<dvtest::ConsoleE2e> c;
};

void TestEveryTypeE2e::init()
{
    c = std::make_unique<dvtest::ConsoleE2e>();
    QVERIFY(c->start());
}

void TestEveryTypeE2e::cleanup() { c.reset(); }

QList<QStringList> TestEveryTypeE2e::stored()
{
    QList<QStringList> out;
    for (const QString &row : c->serverRows(checkQuery()))
        out << row.split(u'|');
    return out;
}

void TestEveryTypeE2e::editAndCheck(int row, const QString &column, const QString &text, const QString &storedText,
                                    QList<QStringList> &before)
{
    const int col = column == "note" ? 1 : columnOf(column);
    const int rv = columnOf("rv");
    const QString dbts = c->serverRows("select cast(@@dbts as binary(8))").value(0);
    QVERIFY(c->typeCell(row, col, text));
    QVERIFY2(c->post(), qPrintable(c->errors.join('\n')));
    QCOMPARE(c->errors, QStringList{});
    QList<QStringList> after = stored();
    QCOMPARE(after.size(), kRows);
    // The row's rowversion moved on by exactly one update.
    const QString newRv = after[row][rv];
    QVERIFY2(newRv != before[row][rv], qPrintable(newRv));
    QCOMPARE(c->serverRows("select cast(@@dbts as binary(8))").value(0), newRv);
    QCOMPARE(newRv.mid(2).toULongLong(nullptr, 16), dbts.mid(2).toULongLong(nullptr, 16) + 1);
    QList<QStringList> expected = before;
    expected[row][col] = storedText;
    expected[row][rv] = newRv;
    for (int r = 0; r < kRows; ++r)
        QCOMPARE(after[r], expected[r]);
    // The grid shows what the server stored, and the row can be found again.
    QCOMPARE(c->cell(row, rv), newRv);
    before = after;
}

// Created, filled and read by statements typed into the console; shown and
// copied as each type shows; one-cell edits of a text column and of the xml
// column land once and leave every other cell of every row as it was.
void TestEveryTypeE2e::everyTypeReadCopiedEdited()
{
    c->run(createTable());
    QCOMPARE(c->errors, QStringList{});
    c->run(insertRows());
    QCOMPARE(c->errors, QStringList{});
    c->run(selectAll());
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QCOMPARE(m->rowCount(), kRows);
    QCOMPARE(m->columnCount(), int(everyType().size()) + 2);
    QList<QStringList> before = stored();
    QCOMPARE(before.size(), kRows);

    QStringList copied;
    for (int r = 0; r < kRows; ++r) {
        QStringList line{QString::number(r + 1), QString("n%1").arg(r + 1)};
        QCOMPARE(c->cell(r, 0), line[0]);
        QCOMPARE(c->cell(r, 1), line[1]);
        for (int i = 0; i < everyType().size(); ++i) {
            const TypeColumn &t = everyType()[i];
            const QString want = t.shown[r].isEmpty() ? before[r][i + 2] : t.shown[r];
            QVERIFY2(c->cell(r, i + 2) == want,
                     qPrintable(QString("%1 row %2: %3, not %4").arg(t.name).arg(r + 1).arg(c->cell(r, i + 2), want)));
            line << (want == "(NULL)" ? QString() : want);
        }
        copied << line.join(u'\t');
    }
    // The sql_variant values kept their base types; the hierarchyid paths are
    // the ones written.
    QCOMPARE(before[0][columnOf("sv")], QString("5/int"));
    QCOMPARE(before[1][columnOf("sv")], QString("abc/nvarchar"));
    QCOMPARE(before[2][columnOf("sv")], QString("2.50/decimal"));
    QCOMPARE(before[1][columnOf("h")], QString("/1/1/3/"));

    // A row picked by its indicator, then all of them, copy as shown.
    QHeaderView *rowTitles = c->grid()->verticalHeader();
    QCOMPARE(dvtest::whyUnusable(rowTitles), QString());
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(rowTitles->viewport(), Qt::LeftButton, {},
                      QPoint(rowTitles->width() / 2, rowTitles->sectionViewportPosition(1) + rowTitles->sectionSize(1) / 2));
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), copied[1]);
    QTest::keyClick(c->grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), copied.join("\r\n"));

    // The server cannot order xml or the spatial types: a click on their
    // titles is refused with the type named, and typing into a spatial cell
    // too; the rows stay as they were.
    QHeaderView *titles = c->grid()->horizontalHeader();
    for (const QString &name : {QString("x"), QString("gg"), QString("gm")}) {
        const int col = columnOf(name);
        c->grid()->scrollTo(m->index(0, col)); // as the scroll bar brings it into view
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                          QPoint(titles->sectionViewportPosition(col) + titles->sectionSize(col) / 2, titles->height() / 2));
        QCOMPARE(c->errors.size(), 1);
        const QString type = everyType()[col - 2].type;
        QVERIFY2(c->errors[0].contains(type + " 列不能排序"), qPrintable(c->errors[0]));
        c->errors.clear();
        QCOMPARE(m->sortColumn(), -1);
        QCOMPARE(dvtest::shownColumn(m, 0), (QStringList{"1", "2", "3"}));
        if (name == "x")
            continue;
        c->typeCell(0, col, "POINT (1 2)");
        if (c->grid()->isEditing())
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QCOMPARE(c->errors.size(), 1);
        QVERIFY2(c->errors[0].contains("CLR"), qPrintable(c->errors[0]));
        c->errors.clear();
    }
    QCOMPARE(stored(), before);

    editAndCheck(0, "note", "edited", "edited", before);
    if (QTest::currentTestFailed())
        return;
    // Again on the same row, from what the grid read back after the write.
    editAndCheck(0, "note", "again", "again", before);
    if (QTest::currentTestFailed())
        return;
    editAndCheck(2, "note", "third", "third", before);
    if (QTest::currentTestFailed())
        return;
    editAndCheck(1, "x", "<r><j>2</j></r>", "<r><j>2</j></r>", before);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(c->cell(1, columnOf("x")), QString("<r><j>2</j></r>"));

    // Malformed xml: the server's error, and nothing changed anywhere.
    QVERIFY(c->typeCell(1, columnOf("x"), "<r><j>"));
    QVERIFY(!c->post());
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("XML parsing"), qPrintable(c->errors[0]));
    QCOMPARE(stored(), before);
}

// hierarchyid shows and copies as its stored bytes in hex, refuses typing
// with the reason, and a title click orders it as the server's ORDER BY does
// (depth first).
void TestEveryTypeE2e::hierarchyidShownCopiedSortedNotTyped()
{
    c->run("create table hi (k int primary key, h hierarchyid null)");
    QCOMPARE(c->errors, QStringList{});
    const QStringList paths{"/1/1/", "/", "/2/", "/1/", "/1/-1/", "/1/1.1/", "/3/", "/1/2/", "/0/"};
    for (int i = 0; i < paths.size(); ++i)
        c->exec(QString("insert into hi values (%1, '%2')").arg(i + 1).arg(paths[i]));
    c->exec(QString("insert into hi values (%1, null)").arg(paths.size() + 1));
    const QStringList bytes = c->serverRows("select cast(h as varbinary(892)) from hi order by k");
    QCOMPARE(bytes.size(), int(paths.size()) + 1);
    QCOMPARE(bytes[0], QString("0x5AC0"));
    QCOMPARE(bytes[1], QString("0x"));
    QCOMPARE(bytes[3], QString("0x58"));
    c->run("select k, h from hi order by k");
    QCOMPARE(c->errors, QStringList{});
    dv::ResultModel *m = c->model();
    QStringList shown = bytes;
    shown.last() = "(NULL)";
    QCOMPARE(dvtest::shownColumn(m, 1), shown);

    c->grid()->setFocus();
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(c->grid(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(c->grid(), Qt::Key_C, Qt::ControlModifier);
    QStringList copied;
    for (int i = 0; i < bytes.size(); ++i)
        copied << QString::number(i + 1) + "\t" + (i < paths.size() ? bytes[i] : QString());
    QCOMPARE(QGuiApplication::clipboard()->text(), copied.join("\r\n"));

    c->typeCell(0, 1, "/9/");
    if (c->grid()->isEditing())
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("CLR"), qPrintable(c->errors[0]));
    c->errors.clear();
    QCOMPARE(c->cell(0, 1), bytes[0]);
    QCOMPARE(c->serverRows("select h.ToString() from hi where k = 1"), QStringList{"/1/1/"});

    QHeaderView *h = c->grid()->horizontalHeader();
    const QPoint title(h->sectionViewportPosition(1) + h->sectionSize(1) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, title);
    QCOMPARE(c->errors, QStringList{});
    QCOMPARE(m->sortColumn(), 1);
    const QStringList ascending = c->serverRows("select k from hi order by h, k");
    QCOMPARE(dvtest::shownColumn(m, 0), ascending);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, title);
    QCOMPARE(m->sortOrder(), Qt::DescendingOrder);
    QCOMPARE(dvtest::shownColumn(m, 0), c->serverRows("select k from hi order by h desc, k"));
    // The paths were chosen so that their texts order otherwise.
    QVERIFY(ascending != c->serverRows("select k from hi order by h.ToString(), k"));

    // Through a join no catalogue names the column's type: the grid cannot
    // tell a hierarchyid from a type the server cannot order, and says so.
    c->run("select a.k, b.h from hi a join hi b on a.k = b.k order by a.k");
    QCOMPARE(c->errors, QStringList{});
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, title);
    QCOMPARE(c->errors.size(), 1);
    QVERIFY2(c->errors[0].contains("CLR"), qPrintable(c->errors[0]));
    QCOMPARE(m->sortColumn(), -1);
    QCOMPARE(dvtest::shownColumn(m, 1), shown);
}

int main(int argc, char **argv)
{
    dv::Application app(argc, argv);
    TestEveryTypeE2e t;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&t, argc, argv);
}

#include "tst_everytype_e2e.moc"
