// Cost of one preview frame conversion at 640 x 480, and the share of one core that a 25 fps
// preview spends converting.
#include "recording/opencv_widget.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <cstdio>
#include <opencv2/core.hpp>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    cv::Mat frame(480, 640, CV_8UC3);
    cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(255));
    QImage image;
    const int n = 2000;
    kel::convertFrame(frame, image); // warm up and allocate
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < n; ++i)
        kel::convertFrame(frame, image);
    const double convertMs = t.nsecsElapsed() / 1e6 / n;

    // The whole preview tick: conversion and the widget's repaint.
    kel::QOpenCVWidget widget;
    widget.resize(451, 375); // the main window's preview, so the picture is fitted
    QImage target(451, 375, QImage::Format_RGB32);
    t.restart();
    for (int i = 0; i < n / 4; ++i) {
        widget.showFrame(frame);
        widget.render(&target);
    }
    const double tickMs = t.nsecsElapsed() / 1e6 / (n / 4);
    std::printf("preview conversion 640x480: %.3f ms per frame (target < 1 ms)\n", convertMs);
    std::printf("conversion + repaint: %.3f ms per frame; at 25 fps: %.1f %% of one core "
                "(target <= 20 %%)\n",
                tickMs, tickMs * 25 / 10.0);
    return 0;
}
