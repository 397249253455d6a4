// geography and geometry values without a server: well-known text read and
// written back, the serialized bytes read back, failures by their 24xxx
// numbers, numbers written as SQL Server writes them, geometry validity.
#include "base/spatial.h"

#include <QtTest>

using namespace ts;

namespace {

QString wktOf(const geo::Spatial &g, bool withZM = true)
{
    return QString::fromStdString(geo::toWkt(g, withZM));
}

} // namespace

class TstSpatial : public QObject {
    Q_OBJECT
private slots:
    // Text as typed to text as ToString() writes it.
    void textWrittenBack_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("a space after the label") << "POINT(1 2)" << "POINT (1 2)";
        QTest::newRow("labels in any case") << "linestring(0 0,1 1)" << "LINESTRING (0 0, 1 1)";
        QTest::newRow("spaces anywhere") << "  POLYGON ( ( 0 0 , 1 0 , 1 1 , 0 0 ) )  " << "POLYGON ((0 0, 1 0, 1 1, 0 0))";
        QTest::newRow("trailing zeros dropped") << "POINT(1.500 -2.0)" << "POINT (1.5 -2)";
        QTest::newRow("exponents read") << "POINT(1e3 2.5E-2)" << "POINT (1000 0.025)";
        QTest::newRow("negative zero is 0") << "POINT(-0 0)" << "POINT (0 0)";
        QTest::newRow("multipoint without inner parentheses") << "MULTIPOINT(1 2, 3 4)" << "MULTIPOINT ((1 2), (3 4))";
        QTest::newRow("an empty member of a multipoint") << "MULTIPOINT((1 2), EMPTY)" << "MULTIPOINT ((1 2), EMPTY)";
        QTest::newRow("empty multipolygon") << "MULTIPOLYGON EMPTY" << "MULTIPOLYGON EMPTY";
        QTest::newRow("multipolygon with a hole")
            << "MULTIPOLYGON(((0 0, 9 0, 9 9, 0 0), (1 1, 2 1, 2 2, 1 1)), ((20 20, 21 20, 21 21, 20 20)))"
            << "MULTIPOLYGON (((0 0, 9 0, 9 9, 0 0), (1 1, 2 1, 2 2, 1 1)), ((20 20, 21 20, 21 21, 20 20)))";
        QTest::newRow("nested collection")
            << "GEOMETRYCOLLECTION(POINT EMPTY, GEOMETRYCOLLECTION(LINESTRING(0 0, 1 1)), POINT(5 5))"
            << "GEOMETRYCOLLECTION (POINT EMPTY, GEOMETRYCOLLECTION (LINESTRING (0 0, 1 1)), POINT (5 5))";
        QTest::newRow("Z") << "POINT(1 2 3)" << "POINT (1 2 3)";
        QTest::newRow("M without Z") << "POINT(1 2 NULL 4)" << "POINT (1 2 NULL 4)";
    }

    void textWrittenBack()
    {
        QFETCH(QString, in);
        QFETCH(QString, out);
        geo::Spatial g;
        const geo::Failure f = geo::parseWkt(in.toStdString(), false, g);
        QVERIFY2(!f.failed(), f.message.c_str());
        QCOMPARE(wktOf(g), out);
        // Through the bytes and back: the same shapes.
        geo::Spatial back;
        const geo::Failure r = geo::deserialize(geo::serialize(g), false, back);
        QVERIFY2(!r.failed(), r.message.c_str());
        QCOMPARE(wktOf(back), out);
    }

    void textRefused_data()
    {
        QTest::addColumn<QString>("in");
        QTest::addColumn<bool>("geography");
        QTest::addColumn<QString>("number");
        QTest::newRow("empty input") << "   " << false << "24112";
        QTest::newRow("unknown label") << "POINTS(1 2)" << false << "24114";
        QTest::newRow("a letter for a number") << "POINT(1 x)" << false << "24141";
        QTest::newRow("one coordinate") << "POINT(1)" << false << "24141";
        QTest::newRow("missing parenthesis") << "POINT 1 2" << false << "24142";
        QTest::newRow("cut short") << "LINESTRING(0 0, 1 1" << false << "24209";
        QTest::newRow("text after the end") << "POINT(1 2) x" << false << "24111";
        QTest::newRow("one-point line") << "LINESTRING(0 0)" << true << "24117";
        QTest::newRow("exterior ring too short") << "POLYGON((0 0, 1 1, 0 0))" << false << "24118";
        QTest::newRow("exterior ring open") << "POLYGON((0 0, 1 0, 1 1, 0 1))" << false << "24119";
        QTest::newRow("interior ring too short") << "POLYGON((0 0, 9 0, 9 9, 0 0), (1 1, 2 2, 1 1))" << false << "24120";
        QTest::newRow("interior ring open") << "POLYGON((0 0, 9 0, 9 9, 0 0), (1 1, 2 1, 2 2, 1 2))" << false << "24121";
        QTest::newRow("geography numbers its rings") << "POLYGON((0 0, 1 1, 0 0))" << true << "24305";
        QTest::newRow("geography ring open") << "POLYGON((0 0, 1 0, 1 1, 0 1))" << true << "24306";
    }

    void textRefused()
    {
        QFETCH(QString, in);
        QFETCH(bool, geography);
        QFETCH(QString, number);
        geo::Spatial g;
        const geo::Failure f = geo::parseWkt(in.toStdString(), geography, g);
        QVERIFY(f.failed());
        QCOMPARE(QString::fromStdString(f.message).left(6), number + ":");
        QCOMPARE(QString::fromStdString(f.exception), QString("System.FormatException"));
    }

    // Bytes that are no value: each count and offset is checked.
    void badBytes_data()
    {
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("too short for the header") << QByteArray("e61000");
        QTest::newRow("a point cut short") << QByteArray("e6100000010c00000000006044408fc2f5285c7f52");
        QTest::newRow("a point with bytes after it") << QByteArray("e6100000010c00000000006044408fc2f5285c7f52c000");
        QTest::newRow("more points than bytes") << QByteArray("0000000001040500000000000000000000000000000000000000");
        QTest::newRow("a figure beyond the points")
            << QByteArray("00000000010401000000000000000000f03f000000000000f03f01000000010200000001000000ffffffff0000000001");
        QTest::newRow("no shape")
            << QByteArray("00000000010401000000000000000000f03f000000000000f03f01000000010000000000000000");
        QTest::newRow("a shape type beyond collections")
            << QByteArray("00000000010401000000000000000000f03f000000000000f03f01000000010000000001000000ffffffff0000000008");
        QTest::newRow("a top shape with a parent")
            << QByteArray("00000000010401000000000000000000f03f000000000000f03f01000000010000000001000000000000000000000001");
    }

    void badBytes()
    {
        QFETCH(QByteArray, hex);
        const QByteArray b = QByteArray::fromHex(hex);
        geo::Spatial g;
        QVERIFY(geo::deserialize(std::string(b.constData(), size_t(b.size())), false, g).failed());
    }

    void otherVersionRefused()
    {
        const QByteArray b = QByteArray::fromHex("e6100000030c00000000006044408fc2f5285c7f52c0");
        geo::Spatial g;
        const geo::Failure f = geo::deserialize(std::string(b.constData(), size_t(b.size())), true, g);
        QCOMPARE(QString::fromStdString(f.message),
                 QString("24210: Geography type with an unexpected version of 3 received; only versions up to 2 are accepted."));
    }

    void numbers_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("integer") << 12.0 << "12";
        QTest::newRow("15 significant digits") << 0.1 + 0.2 << "0.3";
        QTest::newRow("a third") << 1.0 / 3 << "0.333333333333333";
        QTest::newRow("large") << 1e20 << "1E+20";
        QTest::newRow("small") << 0.000001 << "1E-06";
        QTest::newRow("negative") << -122.349 << "-122.349";
    }

    void numbers()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(QString::fromStdString(geo::formatNumber(value)), text);
    }

    // The valid flag SQL Server stores: a line must not run back over itself.
    void geometryValidity_data()
    {
        QTest::addColumn<QString>("wkt");
        QTest::addColumn<bool>("valid");
        QTest::newRow("a line") << "LINESTRING(0 0, 2 2, 1 0)" << true;
        QTest::newRow("the reference's overlapping line") << "LINESTRING(0 2, 1 1, 1 0, 1 1, 2 2)" << false;
        QTest::newRow("a line of one repeated point") << "LINESTRING(1 1, 1 1)" << false;
        QTest::newRow("a square") << "POLYGON((0 0, 3 0, 3 3, 0 3, 0 0))" << true;
        QTest::newRow("a bowtie") << "POLYGON((0 0, 2 2, 2 0, 0 2, 0 0))" << false;
        QTest::newRow("an empty point") << "POINT EMPTY" << true;
    }

    void geometryValidity()
    {
        QFETCH(QString, wkt);
        QFETCH(bool, valid);
        geo::Spatial g;
        QVERIFY(!geo::parseWkt(wkt.toStdString(), false, g).failed());
        QVERIFY(!geo::check(g).failed());
        QCOMPARE(g.valid, valid);
    }
};

QTEST_APPLESS_MAIN(TstSpatial)
#include "tst_spatial.moc"
