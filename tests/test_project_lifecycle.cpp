#include <QtTest>
class TestProjectLifecycle : public QObject {
    Q_OBJECT
};
QTEST_MAIN(TestProjectLifecycle)
#include "test_project_lifecycle.moc"
