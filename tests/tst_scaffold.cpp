#include <QtTest>
class TstScaffold : public QObject { Q_OBJECT private slots: void builds() { QVERIFY(true); } };
QTEST_MAIN(TstScaffold)
#include "tst_scaffold.moc"
