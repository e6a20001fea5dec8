#include <QtTest>
class TestPrincipalW : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_MAIN(TestPrincipalW)
#include "test_principalw.moc"
