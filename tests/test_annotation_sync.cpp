#include "playback/annotation_sync.h"

#include <QSet>
#include <QtTest>

using kel::SyncState;

Q_DECLARE_METATYPE(QList<int>)

class TestAnnotationSync : public QObject {
    Q_OBJECT
private slots:
    void due_data() {
        QTest::addColumn<QList<int>>("schedule");
        QTest::addColumn<qint64>("position");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("syncEnabled");
        QTest::addColumn<int>("played");
        QTest::addColumn<QList<int>>("missing");
        QTest::addColumn<int>("expected");

        const QList<int> none;
        // clang-format off
        QTest::newRow("due at its second")         << QList<int>{1, 250} << qint64(10400) << true << 1 << true << 0 << none << 0;
        QTest::newRow("key 0 never starts")        << QList<int>{1, 0} << qint64(300) << true << 1 << true << 0 << none << -1;
        QTest::newRow("not yet")                   << QList<int>{1, 250} << qint64(9990) << true << 1 << true << 0 << none << -1;
        QTest::newRow("second passed: pending")    << QList<int>{1, 250} << qint64(11000) << true << 1 << true << 0 << none << -1;
        QTest::newRow("paused student video")      << QList<int>{1, 250} << qint64(10400) << false << 1 << true << 0 << none << -1;
        QTest::newRow("sync not enabled")          << QList<int>{1, 250} << qint64(10400) << true << 1 << false << 0 << none << -1;
        QTest::newRow("no annotation counted")     << QList<int>{1, 250} << qint64(10400) << true << 0 << true << 0 << none << -1;
        QTest::newRow("all played (recording too)") << QList<int>{1, 250} << qint64(10400) << true << 1 << true << 1 << none << -1;
        QTest::newRow("two in one second")         << QList<int>{3, 100, 1, 300, 2, 300} << qint64(12300) << true << 3 << true << 0 << none << 2;
        QTest::newRow("missing file passed over")  << QList<int>{1, 300, 2, 300} << qint64(12300) << true << 2 << true << 0 << QList<int>{1} << 2;
        QTest::newRow("only pair missing")         << QList<int>{1, 300} << qint64(12300) << true << 1 << true << 0 << QList<int>{1} << -1;
        QTest::newRow("odd trailing number")       << QList<int>{1} << qint64(0) << true << 1 << true << 0 << none << -1;
        // clang-format on
    }
    void due() {
        QFETCH(QList<int>, schedule);
        QFETCH(qint64, position);
        QFETCH(bool, playing);
        QFETCH(int, count);
        QFETCH(bool, syncEnabled);
        QFETCH(int, played);
        QFETCH(QList<int>, missing);
        QFETCH(int, expected);
        const SyncState s{playing, position, count, true, syncEnabled, played};
        const QSet<int> gone(missing.begin(), missing.end());
        QCOMPARE(kel::dueAnnotationPair(schedule, s, [&](int n) { return !gone.contains(n); }),
                 expected);
    }
};

QTEST_APPLESS_MAIN(TestAnnotationSync)
#include "test_annotation_sync.moc"
