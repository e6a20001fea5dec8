#include "recording/recording_window.h"

#include <QtTest>

using namespace kel;

// The recording window as the teacher sees it: where it stands, and what it shows once the
// countdown is over.
class TestRecordingWindow : public QObject {
    Q_OBJECT

    static cv::Mat grey(int width, int height) {
        return cv::Mat(height, width, CV_8UC3, cv::Scalar::all(128));
    }

private slots:
    // Inside the area it is given, its frame included, centred, the picture's proportions kept;
    // as large as the area allows, never larger than the picture.
    void staysInItsArea_data() {
        QTest::addColumn<QSize>("frame");
        QTest::addColumn<bool>("scaled");
        QTest::newRow("640 x 480 scaled down") << QSize(640, 480) << true;
        QTest::newRow("320 x 240 as it is") << QSize(320, 240) << false;
        QTest::newRow("portrait camera") << QSize(480, 640) << true;
    }
    void staysInItsArea() {
        QFETCH(QSize, frame);
        QFETCH(bool, scaled);
        const QRect area(800, 255, 451, 375); // the preview area of a main window at (300, 200)
        RecordingWindow window;
        window.placeOver(area);
        window.show();
        window.showFrame(grey(frame.width(), frame.height()));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QRect outer = window.frameGeometry(), inner = window.geometry();
        QVERIFY2(area.contains(outer), QTest::toString(outer));
        QVERIFY((outer.center() - area.center()).manhattanLength() <= 2);
        QVERIFY(std::abs(inner.width() * frame.height() - inner.height() * frame.width()) <=
                frame.width() + frame.height());
        if (scaled)
            QVERIFY(outer.width() >= area.width() - 1 || outer.height() >= area.height() - 1);
        else
            QCOMPARE(inner.size(), frame);
    }

    // Nothing during the countdown; then a red mark, the time recorded and the key that ends it,
    // over a picture that stays visible.
    void showsThatItRecords() {
        RecordingWindow window;
        window.show();
        window.showFrame(grey(320, 240));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy finished(&window, &RecordingWindow::countdownFinished);
        const auto redPixels = [&window] {
            const QImage image = window.grab().toImage();
            int red = 0;
            for (int y = 0; y < image.height() / 4; ++y)
                for (int x = 0; x < image.width() / 4; ++x) {
                    const QColor c = image.pixelColor(x, y);
                    red += c.red() > 180 && c.green() < 60 && c.blue() < 60;
                }
            return red;
        };

        window.startCountdown(1, 300);
        QVERIFY(!window.isRecording() && window.elapsedText().isEmpty());
        QCOMPARE(redPixels(), 0);
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(window.isRecording());
        QCOMPARE(window.elapsedText(), QStringLiteral("00:00"));
        QVERIFY2(redPixels() > 30, qPrintable(QString::number(redPixels())));
        QCOMPARE(window.grab().toImage().pixelColor(160, 120), QColor(128, 128, 128));
        QTRY_COMPARE_WITH_TIMEOUT(window.elapsedText(), QStringLiteral("00:01"), 2000);

        // The hint at the bottom: white text drawn where the countdown's hint was.
        const QImage image = window.grab().toImage();
        int white = 0;
        for (int y = image.height() * 3 / 4; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                white += qGray(image.pixel(x, y)) > 220;
        QVERIFY2(white > 20, qPrintable(QString::number(white)));
    }
};

QTEST_MAIN(TestRecordingWindow)
#include "test_recording_window.moc"
