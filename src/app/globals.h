#pragma once

// State shared by the windows of one run.

#include <QString>

#include <opencv2/videoio.hpp>

namespace kel {

class PrincipalW;
class MyVideoPlayer;
class Export;
class HelpW;
class CameraSource;

extern PrincipalW* mainWindow;
extern MyVideoPlayer* studentPlayer;
extern Export* exportWindow;
extern HelpW* helpWindow;
extern CameraSource* webcamCapture;
extern cv::VideoCapture* studentCapture;
extern cv::VideoWriter* annotationWriter;
extern bool exportRunning;
extern bool exportFinished;
extern bool montageCompressionFinished;

extern const QString annotationPrefix; // "annotation"
extern const QString comboPrefix;      // "Annotation n°"
extern const QString noAnnotationText; // "Aucune annotation"

} // namespace kel
