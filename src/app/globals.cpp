#include "globals.h"

namespace kel {

PrincipalW* mainWindow = nullptr;
MyVideoPlayer* studentPlayer = nullptr;
Export* exportWindow = nullptr;
HelpW* helpWindow = nullptr;
CameraSource* webcamCapture = nullptr;
cv::VideoCapture* studentCapture = nullptr;
cv::VideoWriter* annotationWriter = nullptr;
bool exportRunning = false;
bool exportFinished = false;
bool montageCompressionFinished = false;

const QString annotationPrefix = QStringLiteral("annotation");
const QString comboPrefix = QStringLiteral("Annotation n°");
const QString noAnnotationText = QStringLiteral("Aucune annotation");

} // namespace kel
