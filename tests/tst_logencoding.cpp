// The saved log's code page, as the tool gets it on every system it builds
// for: Qt's GBK converter on Linux, the system's code page 936 on Windows.
// The digest printed by wholeBmp lets a build for one system be compared
// with a build for the other, character for character.
#include "core/oplog.h"

#include <QCryptographicHash>
#include <QTest>

#include <vector>

using namespace dv;

class TestLogEncoding : public QObject {
    Q_OBJECT
private slots:
    void encode_data();
    void encode();
    void wholeBmp();
};

void TestLogEncoding::encode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    // Expected bytes from glibc's iconv -t CP936.
    QTest::newRow("login message") << QStringLiteral("成功登录数据库服务器:[127.0.0.1,1433]\r\n")
                                   << QByteArray("\xB3\xC9\xB9\xA6\xB5\xC7\xC2\xBC\xCA\xFD\xBE\xDD\xBF\xE2\xB7\xFE"
                                                 "\xCE\xF1\xC6\xF7:[127.0.0.1,1433]\r\n");
    QTest::newRow("punctuation") << QStringLiteral("·—…") << QByteArray("\xA1\xA4\xA1\xAA\xA1\xAD");
    QTest::newRow("euro, one byte") << QStringLiteral("€") << QByteArray("\x80");
    QTest::newRow("Latin, bopomofo, circled digit, ling")
        << QStringLiteral("éㄅ①〇") << QByteArray("\xA8\xA6\xA8\xC5\xA2\xD9\xA9\x96");
    // No best fit: a character the code page lacks is "?", not a look-alike.
    QTest::newRow("no-break space, Thai, A with macron") << QStringLiteral("a\u00a0\u0e01\u0100b")
                                                         << QByteArray("a???b");
    QTest::newRow("outside the BMP") << QStringLiteral("x\U0001F600y") << QByteArray("x?y");
}

void TestLogEncoding::encode()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(encodeLogText(text).toHex(' '), bytes.toHex(' '));
}

// Every BMP character alone: the codes are GBK's (ASCII as itself, a few
// single bytes above it, else lead 0x81-0xFE and trail 0x40-0xFE but 0x7F),
// no two characters share one, and the digest of all of them outside the
// Private Use Area is printed.
void TestLogEncoding::wholeBmp()
{
    QByteArray all;
    all.reserve(0x10000 * 3);
    std::vector<char16_t> owner(0x10000, 0);
    int encodable = 0;
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000)
            continue;
        const QChar ch{char16_t(c)};
        const QByteArray b = encodeLogText(QString(ch));
        // The Private Use Area holds vendor-defined codes, which code page
        // implementations map differently (U+F8F5 is 0xFF in ICU's GBK, and
        // unmapped in Wine's 936): left out of the digest, checked below.
        if (c < 0xE000 || c > 0xF8FF) {
            all += b;
            all += '\0';
        }
        if (b == "?" && c != u'?')
            continue;
        ++encodable;
        int code = 0;
        if (b.size() == 1) {
            // ASCII stays itself; the code page's few single bytes above it
            // (the euro sign) never stand for an ASCII character.
            code = quint8(b[0]);
            QVERIFY2(c < 0x80 ? code == int(c) : code >= 0x80, qPrintable(QString::number(c, 16)));
        } else {
            QCOMPARE(b.size(), 2);
            const auto lead = quint8(b[0]), trail = quint8(b[1]);
            QVERIFY2(lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F,
                     qPrintable(QString::number(c, 16) + u' ' + QString::fromLatin1(b.toHex())));
            code = (lead << 8) | trail;
        }
        QVERIFY2(owner[size_t(code)] == 0, qPrintable(QStringLiteral("%1 and %2 share %3")
                                                          .arg(QString::number(owner[size_t(code)], 16),
                                                               QString::number(c, 16), QString::number(code, 16))));
        owner[size_t(code)] = char16_t(c);
    }
    // GBK holds more than 21,000 Chinese characters besides its symbols.
    QVERIFY2(encodable > 21000, qPrintable(QString::number(encodable)));
    qInfo("bmp-gbk-sha256 %s encodable %d",
          QCryptographicHash::hash(all, QCryptographicHash::Sha256).toHex().constData(), encodable);
}

QTEST_GUILESS_MAIN(TestLogEncoding)
#include "tst_logencoding.moc"
