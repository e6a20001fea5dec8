#include <QtTest>
class TestPlayerWidget : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_MAIN(TestPlayerWidget)
#include "test_player_widget.moc"
