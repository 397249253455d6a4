// XML DML read and applied, and the context nodes nodes() hands on, below the
// SQL layer: how a statement splits into content and target when its words
// also occur inside the content, which targets are refused before anything
// runs, what each statement makes of a document, and that a context node
// survives being handed on through a further nodes().
#include "base/xmlmodify.h"
#include "base/xmlvalue.h"

#include <QtTest>

using namespace ts;

class XmlDmlTest : public QObject {
    Q_OBJECT

private slots:
    void parse_data()
    {
        QTest::addColumn<QString>("dml");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("where");
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("with");
        QTest::newRow("keyword inside the element") << "insert <into>after</into> before (/a/b)[1]" << int(XmlDml::Insert)
                                                    << int(XmlDml::Before) << "<into>after</into>" << "(/a/b)[1]" << "";
        QTest::newRow("keyword inside a string") << "insert \"as first into\" as last into (/a)[1]" << int(XmlDml::Insert)
                                                 << int(XmlDml::AsLast) << "as first into" << "(/a)[1]" << "";
        QTest::newRow("a list of two") << "insert (<x/>, <y k='1'/>) after (/a/b)[1]" << int(XmlDml::Insert)
                                       << int(XmlDml::After) << "<x /><y k=\"1\" />" << "(/a/b)[1]" << "";
        QTest::newRow("with inside the target and the value") << "replace value of (/a/@with)[1] with \"a with b\""
                                                               << int(XmlDml::Replace) << int(XmlDml::Into) << ""
                                                               << "(/a/@with)[1]" << "\"a with b\"";
        QTest::newRow("delete with spaces around") << "  delete   /a/b  " << int(XmlDml::Delete) << int(XmlDml::Into)
                                                   << "" << "/a/b" << "";
    }
    void parse()
    {
        QFETCH(QString, dml);
        QFETCH(int, kind);
        QFETCH(int, where);
        QFETCH(QString, content);
        QFETCH(QString, target);
        QFETCH(QString, with);
        XmlDml out;
        XmlError err;
        QVERIFY2(parseXmlDml(dml.toStdString(), out, err), err.text.c_str());
        QCOMPARE(int(out.kind), kind);
        if (out.kind == XmlDml::Insert) QCOMPARE(int(out.where), where);
        QCOMPARE(QString::fromStdString(out.content), content);
        QCOMPARE(QString::fromStdString(out.target), target);
        QCOMPARE(QString::fromStdString(out.with), with);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("dml");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("insert into many") << "insert <b/> into /a/b" << 2226
                                          << "XQuery [modify()]: The target of 'insert' must be a single node, found 'element(b,xdt:untyped) *'";
        QTest::newRow("replace many attributes") << "replace value of /a/@k with \"1\"" << 2337
                                                 << "XQuery [modify()]: The target of 'replace' must be at most one node, found 'attribute(k,xdt:untypedAtomic) *'";
        QTest::newRow("replace an element") << "replace value of (/a/b)[1] with \"1\"" << 2356
                                            << "XQuery [modify()]: The target of 'replace value of' must be a non-metadata attribute or an element with simple typed content, found 'element(b,xdt:untyped) ?'";
        QTest::newRow("upper-case keyword") << "INSERT <b/> into (/a)[1]" << 2216 << "XQuery [modify()]: Syntax error near 'INSERT'";
        QTest::newRow("content not xml") << "insert <b> into (/a)[1]" << 2216 << "XQuery [modify()]: Syntax error near '<b> into (/a)[1]'";
        QTest::newRow("no target") << "insert <b/> into" << 2216 << "XQuery [modify()]: Syntax error near '<b/> into'";
    }
    void refused()
    {
        QFETCH(QString, dml);
        QFETCH(int, number);
        QFETCH(QString, text);
        XmlDml out;
        XmlError err;
        QVERIFY(!parseXmlDml(dml.toStdString(), out, err));
        QCOMPARE(err.number, number);
        QCOMPARE(QString::fromStdString(err.text), text);
    }

    void apply_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("dml");
        QTest::addColumn<QString>("result");
        QTest::newRow("as first into an empty element") << "<a/>" << "insert <b/> as first into (/a)[1]" << "<a><b /></a>";
        QTest::newRow("as first keeps a list's order") << "<a><z/></a>" << "insert (<x/>, <y/>) as first into (/a)[1]"
                                                       << "<a><x /><y /><z /></a>";
        QTest::newRow("after keeps a list's order") << "<a><z/><w/></a>" << "insert (<x/>, <y/>) after (/a/z)[1]"
                                                    << "<a><z /><x /><y /><w /></a>";
        QTest::newRow("a second top-level element") << "<a/>" << "insert <b/> after (/a)[1]" << "<a /><b />";
        QTest::newRow("delete the only root") << "<a><b/></a>" << "delete /a" << "";
        QTest::newRow("replace with a number") << "<a k=\"x\"/>" << "replace value of (/a/@k)[1] with 5" << "<a k=\"5\" />";
        QTest::newRow("replace with another node's value") << "<a><b>old</b><c>new</c></a>"
                                                           << "replace value of (/a/b/text())[1] with (/a/c)[1]"
                                                           << "<a><b>new</b><c>new</c></a>";
        QTest::newRow("only the first of several is replaced") << "<a><b>1</b><b>2</b></a>"
                                                               << "replace value of (/a/b/text())[1] with \"x\""
                                                               << "<a><b>x</b><b>2</b></a>";
    }
    void apply()
    {
        QFETCH(QString, xml);
        QFETCH(QString, dml);
        QFETCH(QString, result);
        XmlDml parsed;
        XmlError err;
        QVERIFY2(parseXmlDml(dml.toStdString(), parsed, err), err.text.c_str());
        std::string out;
        QVERIFY2(applyXmlDml(xml.toStdString(), parsed, out, err), err.text.c_str());
        QCOMPARE(QString::fromStdString(out), result);
    }

    // A context node handed on by nodes() is found again by a relative path,
    // and so is one taken from it by a second nodes().
    void contextNodes()
    {
        const std::string xml = "<r><i n=\"1\"><v>a</v></i><i n=\"2\"><v>b</v><v>c</v></i></r>";
        std::vector<std::string> items, values, attributes;
        QVERIFY(xmlNodeRefs(xml, "/r/i", items, nullptr));
        QCOMPARE(items.size(), size_t(2));
        QVERIFY(isXmlNodeRef(items[1]) && !isXmlNodeRef(xml));
        QVERIFY(xmlNodeRefs(items[1], "v", values, nullptr));
        QCOMPARE(values.size(), size_t(2));
        XmlPathResult r;
        QVERIFY(evalXmlPath(values[1], ".", r, nullptr));
        QCOMPARE(QString::fromStdString(r.values.at(0)), QString("c"));
        QVERIFY(evalXmlPath(values[1], "string(../@n)", r, nullptr));
        QCOMPARE(QString::fromStdString(r.values.at(0)), QString("2"));
        QVERIFY(xmlNodeRefs(items[0], "@n", attributes, nullptr));
        QVERIFY(evalXmlPath(attributes.at(0), "string(..)", r, nullptr));
        QCOMPARE(QString::fromStdString(r.values.at(0)), QString("a"));
        std::string why;
        QVERIFY(!xmlNodeRefs(xml, "count(/r/i)", values, &why));
        QCOMPARE(QString::fromStdString(why), QString("not nodes"));
    }
};

QTEST_APPLESS_MAIN(XmlDmlTest)
#include "tst_xmldml.moc"
