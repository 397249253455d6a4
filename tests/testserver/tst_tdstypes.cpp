// Wire encodings of the TDS side: decimal scaling, datetime ticks, UTF-16,
// and values written for a column read back as RPC parameters of that type.
#include "base/collation.h"
#include "base/textcodec.h"
#include "base/variantvalue.h"
#include "base/hierarchyid.h"
#include "wire/tdsbuffer.h"
#include "wire/tdstypes.h"

#include <QtTest>

using namespace ts;
using namespace ts::tds;

namespace {

ColumnDef col(SqlType t, int length = 0, int precision = 0, int scale = 0)
{
    ColumnDef c;
    c.type = t;
    c.length = length;
    c.precision = precision;
    c.scale = scale;
    return c;
}

// A ROW value for `c` followed by its TYPE_INFO is exactly an RPC parameter
// (name, status, type, value), so the writer can be checked by the reader.
RpcParam roundTrip(const ColumnDef &c, const Value &v)
{
    std::string meta, value;
    Writer m(meta);
    writeColumnType(m, c, kTds74);
    Writer w(value);
    writeValue(w, c, v, kTds74);
    std::string param;
    Writer p(param);
    p.u8(0); // no name
    p.u8(0); // status
    param += meta.substr(6); // TYPE_INFO without UserType and Flags
    param += value;
    Reader r(param);
    RpcParam out = readParam(r);
    if (!r.atEnd())
        throw ProtocolError("bytes left over");
    return out;
}

} // namespace

Q_DECLARE_METATYPE(ts::SqlType)

class TstTdsTypes : public QObject {
    Q_OBJECT

private slots:
    void decimals_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("scale");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected");
        QTest::newRow("pads the scale") << "-12.5" << 2 << true << "-12.50";
        QTest::newRow("integer") << "3" << 0 << true << "3";
        QTest::newRow("rounds half up") << "0.005" << 2 << true << "0.01";
        QTest::newRow("rounds down") << "2.344" << 2 << true << "2.34";
        QTest::newRow("negative zero loses its sign") << "-0.001" << 2 << true << "0.00";
        QTest::newRow("leading fraction") << ".5" << 1 << true << "0.5";
        QTest::newRow("38 digits") << "99999999999999999999999999999999999999" << 0 << true
                                   << "99999999999999999999999999999999999999";
        QTest::newRow("39 digits") << "999999999999999999999999999999999999999" << 0 << false << "";
        QTest::newRow("scale overflows") << "9999999999999999999999999999999999999" << 2 << false << "";
        QTest::newRow("not a number") << "12a" << 0 << false << "";
        QTest::newRow("empty") << "" << 0 << false << "";
    }

    void decimals()
    {
        QFETCH(QString, input);
        QFETCH(int, scale);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        unsigned __int128 mag = 0;
        bool neg = false;
        QCOMPARE(toScaled(Value::text(input.toStdString()), scale, mag, neg), ok);
        if (ok)
            QCOMPARE(QString::fromStdString(scaledToText(mag, neg, scale)), expected);
    }

    void dateTimes_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("days");
        QTest::addColumn<QString>("formatted");
        QTest::newRow("epoch") << "1900-01-01" << true << 0 << "1900-01-01 00:00:00.000";
        QTest::newRow("earliest") << "1753-01-01 00:00:00" << true << -53690 << "1753-01-01 00:00:00.000";
        QTest::newRow("leap day, ms rounded to 1/300 s") << "2024-02-29 23:59:59.998" << true << 45349
                                                        << "2024-02-29 23:59:59.997";
        QTest::newRow("last tick rolls into the next day") << "2023-12-31 23:59:59.999" << true << 45290
                                                           << "2024-01-01 00:00:00.000";
        QTest::newRow("ISO T separator") << "2000-06-15T12:30:45.5" << true << 36690 << "2000-06-15 12:30:45.500";
        QTest::newRow("not a leap year") << "2023-02-29" << false << 0 << "";
        QTest::newRow("bad hour") << "2023-01-01 24:00:00" << false << 0 << "";
        QTest::newRow("trailing junk") << "2023-01-01 10:00:00 x" << false << 0 << "";
        QTest::newRow("too short") << "2023-1-1" << false << 0 << "";
    }

    void dateTimes()
    {
        QFETCH(QString, input);
        QFETCH(bool, ok);
        QFETCH(int, days);
        QFETCH(QString, formatted);
        int32_t d = 0;
        uint32_t ticks = 0;
        QCOMPARE(parseDateTime(input.toStdString(), d, ticks), ok);
        if (!ok)
            return;
        QCOMPARE(d, days);
        QCOMPARE(QString::fromStdString(formatDateTime(d, ticks)), formatted);
    }

    void utf16_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << "SELECT 1";
        QTest::newRow("chinese") << "数据库备份";
        QTest::newRow("surrogate pair") << QString::fromUtf8("emoji \xF0\x9F\x98\x80 end");
        QTest::newRow("empty") << "";
    }

    void utf16()
    {
        QFETCH(QString, text);
        const std::string utf8 = text.toStdString();
        const std::string wire = utf8ToUtf16le(utf8);
        // Same bytes Qt produces for UTF-16LE.
        QCOMPARE(QByteArray::fromStdString(wire),
                 QByteArray(reinterpret_cast<const char *>(text.utf16()), text.size() * 2));
        QCOMPARE(utf16leToUtf8(wire), utf8);
        QCOMPARE(utf16Length(utf8), size_t(text.size()));
    }

    void brokenUtf16BecomesReplacement()
    {
        // A lone high surrogate and an odd trailing byte.
        const std::string bad("\x3D\xD8\x41\x00\x42", 5);
        QCOMPARE(utf16leToUtf8(bad), std::string("\xEF\xBF\xBD" "A" "\xEF\xBF\xBD"));
    }

    void codePageRoundTrip()
    {
        const std::string text = "备份 backup";
        const std::string gbk = utf8ToCodePage(text);
        QCOMPARE(gbk.size(), size_t(4 + 7)); // two double-byte characters
        QCOMPARE(codePageToUtf8(gbk), text);
        QCOMPARE(utf8ToCodePage("\xF0\x9F\x98\x80"), std::string("?"));
    }

    void valuesRoundTrip_data()
    {
        QTest::addColumn<SqlType>("type");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("precision");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QString>("input");  // "#n" integer, else text; "NULL"
        QTest::addColumn<QString>("expected");
        QTest::newRow("int") << SqlType::Int << 0 << 0 << 0 << "#-7" << "-7";
        QTest::newRow("bigint") << SqlType::BigInt << 0 << 0 << 0 << "#9000000000" << "9000000000";
        QTest::newRow("smallint") << SqlType::SmallInt << 0 << 0 << 0 << "#-300" << "-300";
        QTest::newRow("tinyint") << SqlType::TinyInt << 0 << 0 << 0 << "#255" << "255";
        QTest::newRow("int from text") << SqlType::Int << 0 << 0 << 0 << "15" << "15";
        QTest::newRow("bit") << SqlType::Bit << 0 << 0 << 0 << "#1" << "1";
        QTest::newRow("decimal") << SqlType::Decimal << 0 << 10 << 2 << "-12.5" << "-12.50";
        QTest::newRow("numeric 38") << SqlType::Numeric << 0 << 38 << 4 << "1234567890123456789012345678901234.5678"
                                    << "1234567890123456789012345678901234.5678";
        QTest::newRow("decimal too big is NULL") << SqlType::Decimal << 0 << 5 << 2 << "1234.5" << "NULL";
        QTest::newRow("money") << SqlType::Money << 0 << 0 << 0 << "-922337203685477.5808" << "-922337203685477.5808";
        QTest::newRow("money above its range is NULL") << SqlType::Money << 0 << 0 << 0 << "922337203685477.5808"
                                                       << "NULL";
        QTest::newRow("datetime") << SqlType::DateTime << 0 << 0 << 0 << "2026-12-08 17:13:33.123"
                                  << "2026-12-08 17:13:33.123";
        QTest::newRow("date") << SqlType::Date << 0 << 0 << 0 << "0001-01-01" << "0001-01-01";
        QTest::newRow("date late") << SqlType::Date << 0 << 0 << 0 << "9999-12-31 10:00" << "9999-12-31";
        QTest::newRow("datetime2(7)") << SqlType::DateTime2 << 0 << 0 << 7 << "2024-02-29 23:59:59.1234567"
                                      << "2024-02-29 23:59:59.1234567";
        QTest::newRow("datetime2(0) early") << SqlType::DateTime2 << 0 << 0 << 0 << "0001-01-01 00:00:01"
                                            << "0001-01-01 00:00:01";
        QTest::newRow("datetime2(3)") << SqlType::DateTime2 << 0 << 0 << 3 << "9999-12-31 23:59:59.999"
                                      << "9999-12-31 23:59:59.999";
        QTest::newRow("time(7)") << SqlType::Time << 0 << 0 << 7 << "00:00:00.0000001" << "00:00:00.0000001";
        QTest::newRow("time(4)") << SqlType::Time << 0 << 0 << 4 << "23:59:59.9999" << "23:59:59.9999";
        // On the wire the time is UTC; the text shows it at its offset again.
        QTest::newRow("datetimeoffset across midnight") << SqlType::DateTimeOffset << 0 << 0 << 7
                                                        << "2024-01-01 03:00:00.0000005 +08:00"
                                                        << "2024-01-01 03:00:00.0000005 +08:00";
        QTest::newRow("datetimeoffset negative") << SqlType::DateTimeOffset << 0 << 0 << 2
                                                 << "2024-12-31 22:30:00.25 -05:30" << "2024-12-31 22:30:00.25 -05:30";
        QTest::newRow("datetime2 NULL") << SqlType::DateTime2 << 0 << 0 << 7 << "NULL" << "NULL";
        QTest::newRow("nvarchar") << SqlType::NVarChar << 10 << 0 << 0 << "中文" << "中文";
        QTest::newRow("nvarchar cut to its length") << SqlType::NVarChar << 3 << 0 << 0 << "abcdef" << "abc";
        QTest::newRow("nvarchar(max)") << SqlType::NVarChar << -1 << 0 << 0 << QString(5000, 'x') << QString(5000, 'x');
        QTest::newRow("nvarchar(max) empty") << SqlType::NVarChar << -1 << 0 << 0 << "" << "";
        QTest::newRow("nchar padded") << SqlType::NChar << 4 << 0 << 0 << "ab" << "ab  ";
        QTest::newRow("varchar in GBK") << SqlType::VarChar << 10 << 0 << 0 << "备份" << "备份";
        QTest::newRow("varchar cut on a character") << SqlType::VarChar << 3 << 0 << 0 << "备份" << "备";
        QTest::newRow("char padded") << SqlType::Char << 3 << 0 << 0 << "a" << "a  ";
        QTest::newRow("int NULL") << SqlType::Int << 0 << 0 << 0 << "NULL" << "NULL";
        QTest::newRow("nvarchar NULL") << SqlType::NVarChar << 5 << 0 << 0 << "NULL" << "NULL";
        QTest::newRow("nvarchar(max) NULL") << SqlType::NVarChar << -1 << 0 << 0 << "NULL" << "NULL";
        QTest::newRow("datetime NULL") << SqlType::DateTime << 0 << 0 << 0 << "NULL" << "NULL";
        // GUIDTYPE: the first three groups little-endian on the wire.
        QTest::newRow("uniqueidentifier") << SqlType::UniqueIdentifier << 0 << 0 << 0
                                          << "6f9619ff-8b86-d011-b42d-00c04fc964ff" << "6F9619FF-8B86-D011-B42D-00C04FC964FF";
        QTest::newRow("uniqueidentifier NULL") << SqlType::UniqueIdentifier << 0 << 0 << 0 << "NULL" << "NULL";
        // XMLTYPE: untyped, the text in UTF-16 PLP chunks.
        QTest::newRow("xml") << SqlType::Xml << -1 << 0 << 0 << "<a k=\"1\">中文</a>" << "<a k=\"1\">中文</a>";
        QTest::newRow("xml empty") << SqlType::Xml << -1 << 0 << 0 << "" << "";
        QTest::newRow("xml NULL") << SqlType::Xml << -1 << 0 << 0 << "NULL" << "NULL";
    }

    void xmlParameterWithByteOrderMark()
    {
        // "", status 0, XMLTYPE untyped, PLP of 10 bytes: FF FE then "<a/>" in UTF-16.
        const QByteArray bytes("\x00\x00\xF1\x00" "\x0A\x00\x00\x00\x00\x00\x00\x00" "\x0A\x00\x00\x00"
                               "\xFF\xFE" "<\x00" "a\x00" "/\x00" ">\x00" "\x00\x00\x00\x00", 30);
        Reader r(bytes.constData(), size_t(bytes.size()));
        const RpcParam p = readParam(r);
        QCOMPARE(p.type.type, SqlType::Xml);
        QCOMPARE(p.value.s, std::string("<a/>"));
    }

    void valuesRoundTrip()
    {
        QFETCH(SqlType, type);
        QFETCH(int, length);
        QFETCH(int, precision);
        QFETCH(int, scale);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        Value in = input == "NULL" ? Value::null()
                   : input.startsWith('#') ? Value::integer(input.mid(1).toLongLong())
                                           : Value::text(input.toStdString());
        const RpcParam p = roundTrip(col(type, length, precision, scale), in);
        QCOMPARE(QString::fromStdString(valueText(p.value)), expected);
        QCOMPARE(p.type.type, type);
    }

    void floatsRoundTrip()
    {
        QCOMPARE(roundTrip(col(SqlType::Float), Value::real(0.1)).value.d, 0.1);
        QCOMPARE(roundTrip(col(SqlType::Real), Value::real(1.5)).value.d, 1.5);
        QCOMPARE(roundTrip(col(SqlType::VarBinary, 4), Value::blob(std::string("\x00\xFF\x10", 3))).value.s,
                 std::string("\x00\xFF\x10", 3));
    }

    // sql_variant values: length, base type, property bytes, then the base
    // value without its own length prefix (fixed types for the INTN family).
    void variantBytes_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("precision");
        QTest::addColumn<int>("scale");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("hex"); // "CC" stands for the server collation's 5 bytes
        QTest::newRow("int") << "int" << 0 << 0 << 0 << QByteArray("5") << QByteArray("06000000" "3800" "05000000");
        QTest::newRow("bigint") << "bigint" << 0 << 0 << 0 << QByteArray("5000000000")
                                << QByteArray("0a000000" "7f00" "00f2052a01000000");
        QTest::newRow("tinyint") << "tinyint" << 0 << 0 << 0 << QByteArray("7") << QByteArray("03000000" "3000" "07");
        QTest::newRow("decimal(5,2)") << "decimal" << 0 << 5 << 2 << QByteArray("5.00")
                                      << QByteArray("09000000" "6a02" "0502" "01f4010000");
        QTest::newRow("negative numeric(20,1)") << "numeric" << 0 << 20 << 1 << QByteArray("-1.5")
                                                << QByteArray("11000000" "6c02" "1401" "00" "0f0000000000000000000000");
        QTest::newRow("float") << "float" << 0 << 0 << 0 << QByteArray("1") << QByteArray("0a000000" "3e00" "000000000000f03f");
        QTest::newRow("datetime") << "datetime" << 0 << 0 << 0 << QByteArray("1900-01-01 00:00:01.000")
                                  << QByteArray("0a000000" "3d00" "00000000" "2c010000");
        QTest::newRow("nvarchar(3)") << "nvarchar" << 3 << 0 << 0 << QByteArray("abc")
                                     << QByteArray("0f000000" "e707" "CC" "0600" "610062006300");
        QTest::newRow("varchar(5) holds 2") << "varchar" << 5 << 0 << 0 << QByteArray("ab")
                                            << QByteArray("0b000000" "a707" "CC" "0500" "6162");
        QTest::newRow("varbinary(2)") << "varbinary" << 2 << 0 << 0 << QByteArray("\x01\x02")
                                      << QByteArray("06000000" "a502" "0200" "0102");
        QTest::newRow("uniqueidentifier") << "uniqueidentifier" << 0 << 0 << 0
                                          << QByteArray("6F9619FF-8B86-D011-B42D-00C04FC964FF")
                                          << QByteArray("12000000" "2400" "ff19966f868b11d0b42d00c04fc964ff");
        QTest::newRow("time(3)") << "time" << 0 << 0 << 3 << QByteArray("00:00:01.000")
                                 << QByteArray("07000000" "2901" "03" "e8030000");
    }

    void variantBytes()
    {
        QFETCH(QString, type);
        QFETCH(int, length);
        QFETCH(int, precision);
        QFETCH(int, scale);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, hex);
        Variant v;
        v.type = type.toStdString();
        v.length = length;
        v.precision = precision;
        v.scale = scale;
        v.value = value.toStdString();
        std::string out;
        Writer w(out);
        writeValue(w, col(SqlType::Variant), Value::text(variantText(v)), kTds74);
        const std::string coll = collationBytes(serverCollation());
        const QByteArray expected = QByteArray::fromHex(hex.replace("CC", QByteArray(coll.data(), int(coll.size())).toHex()));
        QCOMPARE(QByteArray(out.data(), int(out.size())).toHex(), expected.toHex());
    }

    void variantTypeInfoAndNull()
    {
        std::string meta, value;
        Writer m(meta);
        writeColumnType(m, col(SqlType::Variant, 8016), kTds74);
        QCOMPARE(QByteArray(meta.data(), int(meta.size())).toHex(), QByteArray("00000000" "0100" "62" "501f0000"));
        Writer w(value);
        writeValue(w, col(SqlType::Variant, 8016), Value::null(), kTds74);
        QCOMPARE(QByteArray(value.data(), int(value.size())).toHex(), QByteArray("00000000"));
    }

    // hierarchyid paths and their packed bytes (examples from the type's
    // documented format and reference), both ways.
    void hierarchyIdBytes_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("hex");
        QTest::newRow("root is no bytes") << "/" << QByteArray("");
        QTest::newRow("first child") << "/1/" << QByteArray("58");
        QTest::newRow("three levels") << "/1/1/3/" << QByteArray("5ade");
        QTest::newRow("negative dotted label") << "/1/-2.18/" << QByteArray("59fb0540");
        QTest::newRow("dotted between 1 and 2") << "/1.1/" << QByteArray("62c0");
        QTest::newRow("zero") << "/0/" << QByteArray("48");
        QTest::newRow("-1") << "/-1/" << QByteArray("3f80");
        QTest::newRow("16: first of the 6-bit range") << "/16/" << QByteArray("c110");
    }

    void hierarchyIdBytes()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, hex);
        std::string bytes, text;
        QVERIFY(hid::textToBytes(path.toStdString(), bytes));
        QCOMPARE(QByteArray(bytes.data(), int(bytes.size())).toHex(), hex);
        QVERIFY(hid::bytesToText(bytes, text));
        QCOMPARE(QString::fromStdString(text), path);
    }

    void hierarchyIdRefusesBadText_data()
    {
        QTest::addColumn<QString>("text");
        for (const char *bad : {"", "1/", "/1", "/01/", "/-0/", "/1.01/", "/ 1/", "/1/ ", "/a/", "//", "/1..2/", "/1./"})
            QTest::newRow(bad) << QString::fromLatin1(bad);
    }

    void hierarchyIdRefusesBadText()
    {
        QFETCH(QString, text);
        std::string bytes;
        QVERIFY(!hid::textToBytes(text.toStdString(), bytes));
    }

    // Depth-first order is byte order: a parent before its children, a
    // dotted label between its neighbours, negatives before zero.
    void hierarchyIdOrder()
    {
        const char *const ordered[] = {"/", "/-9/", "/-1/", "/0/", "/1/", "/1/1/", "/1/1.1/", "/1/2/", "/1.1/", "/2/", "/15/",
                                       "/16/", "/80/", "/1104/", "/5200/"};
        std::string prev;
        for (size_t k = 0; k < std::size(ordered); ++k) {
            std::string b;
            QVERIFY2(hid::textToBytes(ordered[k], b), ordered[k]);
            if (k) QVERIFY2(prev < b, ordered[k]);
            prev = b;
        }
    }

    // UDTTYPE: max size 892, database, schema and type names, the CLR type's
    // assembly-qualified name; values in PLP chunks.
    void hierarchyIdOnTheWire()
    {
        std::string meta, value, null;
        Writer m(meta);
        writeColumnType(m, col(SqlType::HierarchyId, 892), kTds74);
        const QByteArray aqn("Microsoft.SqlServer.Types.SqlHierarchyId, Microsoft.SqlServer.Types, Version=11.0.0.0, "
                             "Culture=neutral, PublicKeyToken=89845dcd8080cc91");
        // B_VARCHAR and US_VARCHAR: a length in characters, then UTF-16LE.
        auto utf16 = [](const QByteArray &a) {
            QByteArray out;
            for (char c : a) { out += c; out += char(0); }
            return out;
        };
        QByteArray expected = QByteArray::fromHex("00000000" "0100" "f0" "7c03" "00" "03") + utf16("sys") + '\x0b'
            + utf16("hierarchyid");
        expected += char(aqn.size());
        expected += char(0);
        expected += utf16(aqn);
        QCOMPARE(QByteArray(meta.data(), int(meta.size())).toHex(), expected.toHex());
        Writer w(value);
        writeValue(w, col(SqlType::HierarchyId, 892), Value::blob(std::string("\x5a\xde", 2)), kTds74);
        QCOMPARE(QByteArray(value.data(), int(value.size())).toHex(),
                 QByteArray("0200000000000000" "02000000" "5ade" "00000000"));
        Writer n(null);
        writeValue(n, col(SqlType::HierarchyId, 892), Value::null(), kTds74);
        QCOMPARE(QByteArray(null.data(), int(null.size())).toHex(), QByteArray("ffffffffffffffff"));
    }

    // geography and geometry: UDTTYPE of unlimited size (0xFFFF), their own
    // type names and CLR classes; TDS 7.1 clients get varbinary instead.
    void spatialOnTheWire_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("clrClass");
        QTest::newRow("geography") << int(SqlType::Geography) << QByteArray("geography") << QByteArray("SqlGeography");
        QTest::newRow("geometry") << int(SqlType::Geometry) << QByteArray("geometry") << QByteArray("SqlGeometry");
    }

    void spatialOnTheWire()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, clrClass);
        const ColumnDef c = col(SqlType(type), -1);
        auto utf16 = [](const QByteArray &a) {
            QByteArray out;
            for (char ch : a) { out += ch; out += char(0); }
            return out;
        };
        const QByteArray aqn = "Microsoft.SqlServer.Types." + clrClass + ", Microsoft.SqlServer.Types, "
                               "Version=11.0.0.0, Culture=neutral, PublicKeyToken=89845dcd8080cc91";
        QByteArray expected = QByteArray::fromHex("00000000" "0100" "f0" "ffff" "00" "03") + utf16("sys");
        expected += char(name.size());
        expected += utf16(name);
        expected += char(aqn.size());
        expected += char(0);
        expected += utf16(aqn);
        std::string meta, value, old;
        Writer m(meta);
        writeColumnType(m, c, kTds74);
        QCOMPARE(QByteArray(meta.data(), int(meta.size())).toHex(), expected.toHex());
        const std::string point("\xe6\x10\x00\x00\x01\x0c\x17\xd9\xce\xf7\x53\xd3\x47\x40"
                                "\x75\x93\x18\x04\x56\x96\x5e\xc0", 22);
        Writer w(value);
        writeValue(w, c, Value::blob(point), kTds74);
        QCOMPARE(QByteArray(value.data(), int(value.size())).toHex(),
                 QByteArray("1600000000000000" "16000000" "e6100000010c17d9cef753d347407593180456965ec0" "00000000"));
        Writer o(old);
        writeColumnType(o, c, kTds71);
        // TDS 7.1: a two-byte UserType, then varbinary(8000).
        QCOMPARE(QByteArray(old.data(), int(old.size())).toHex(), QByteArray("0000" "0100" "a5" "401f"));
    }

    // smalldatetime: DATETIMN of length 4, the days since 1900-01-01 and the
    // minutes since midnight as two unsigned 2-byte numbers.
    void smallDateTimeOnTheWire_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("readBack");
        QTest::newRow("first day") << "1900-01-01 00:00:00" << QByteArray("0400000000") << "1900-01-01 00:00:00.000";
        QTest::newRow("a day and minutes") << "2024-01-02 03:05:00" << QByteArray("04ebb0b900")
                                           << "2024-01-02 03:05:00.000";
        QTest::newRow("last minute") << "2079-06-06 23:59:00" << QByteArray("04ffff9f05") << "2079-06-06 23:59:00.000";
        QTest::newRow("NULL") << "NULL" << QByteArray("00") << "NULL";
    }

    void smallDateTimeOnTheWire()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, readBack);
        const ColumnDef c = col(SqlType::DateTime, 4);
        std::string meta, value;
        Writer m(meta);
        writeColumnType(m, c, kTds74);
        QCOMPARE(QByteArray(meta.data(), int(meta.size())).toHex(), QByteArray("000000000100" "6f04"));
        Writer w(value);
        writeValue(w, c, text == "NULL" ? Value::null() : Value::text(text.toStdString()), kTds74);
        QCOMPARE(QByteArray(value.data(), int(value.size())).toHex(), bytes);
        QCOMPARE(QString::fromStdString(valueText(roundTrip(c, text == "NULL" ? Value::null()
                                                                             : Value::text(text.toStdString())).value)),
                 readBack);
    }

    void truncatedParametersThrow_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("name longer than data") << QByteArray("\x05@", 2);
        QTest::newRow("int value cut") << QByteArray("\x00\x00\x26\x04\x04\x01\x02", 7);
        QTest::newRow("value longer than type") << QByteArray("\x00\x00\x26\x02\x04\x01\x02\x03\x04", 9);
        QTest::newRow("nvarchar length past end") << QByteArray("\x00\x00\xE7\x10\x00\x04\x08\xD0\x00\x00\x08\x00" "ab", 14);
        QTest::newRow("plp chunk past end") << QByteArray("\x00\x00\xE7\xFF\xFF\x04\x08\xD0\x00\x00\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\x7F", 22);
        QTest::newRow("decimal precision 0") << QByteArray("\x00\x00\x6A\x05\x00\x00\x00", 7);
        QTest::newRow("xml value cut") << QByteArray("\x00\x00\xF1\x00", 4);
        QTest::newRow("unknown type") << QByteArray("\x00\x00\x99\x00", 4);
    }

    void truncatedParametersThrow()
    {
        QFETCH(QByteArray, bytes);
        Reader r(bytes.constData(), size_t(bytes.size()));
        QVERIFY_THROWS_EXCEPTION(ProtocolError, readParam(r));
    }
};

QTEST_APPLESS_MAIN(TstTdsTypes)
#include "tst_tdstypes.moc"
