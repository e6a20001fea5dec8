#include "recording/opencv_widget.h"

#include <QtTest>

using kel::QOpenCVWidget;

class TestOpenCvWidget : public QObject {
    Q_OBJECT
private slots:
    // A frame whose left half is blue and right half red, with one green marker pixel: the
    // preview must show it mirrored, with the colour order turned from BGR to RGB.
    void mirrorsAndConvertsColours() {
        cv::Mat frame(4, 6, CV_8UC3, cv::Scalar(255, 0, 0)); // BGR blue
        frame.colRange(3, 6).setTo(cv::Scalar(0, 0, 255));   // BGR red
        frame.at<cv::Vec3b>(1, 0) = cv::Vec3b(10, 200, 30);  // B=10 G=200 R=30
        QOpenCVWidget w;
        w.showFrame(frame);
        const QImage& img = w.currentImage();
        QCOMPARE(img.size(), QSize(6, 4));
        QCOMPARE(img.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(img.pixel(5, 3), qRgb(0, 0, 255));
        QCOMPARE(img.pixel(5, 1), qRgb(30, 200, 10));
        QCOMPARE(qAlpha(img.pixel(2, 2)), 255);
        // The caller's frame is mirrored in place.
        QCOMPARE(frame.at<cv::Vec3b>(1, 5), cv::Vec3b(10, 200, 30));
        // A frame of another size is shown at its own.
        cv::Mat smaller(24, 32, CV_8UC3, cv::Scalar(9, 8, 7));
        w.showFrame(smaller);
        QCOMPARE(w.currentImage().size(), QSize(32, 24));
        QCOMPARE(w.currentImage().pixel(0, 0), qRgb(7, 8, 9));
    }

    void unsupportedFramesKeepThePicture_data() {
        QTest::addColumn<int>("type");
        QTest::newRow("16-bit") << int(CV_16UC3);
        QTest::newRow("grey") << int(CV_8UC1);
        QTest::newRow("four channels") << int(CV_8UC4);
    }
    void unsupportedFramesKeepThePicture() {
        QFETCH(int, type);
        QOpenCVWidget w;
        cv::Mat good(48, 64, CV_8UC3, cv::Scalar(1, 2, 3)), bad(10, 10, type, cv::Scalar::all(50));
        w.showFrame(good);
        w.showFrame(bad);
        QCOMPARE(w.currentImage().size(), QSize(64, 48));
        QCOMPARE(w.currentImage().pixel(5, 7), qRgb(3, 2, 1));
    }
};

QTEST_MAIN(TestOpenCvWidget)
#include "test_opencv_widget.moc"
