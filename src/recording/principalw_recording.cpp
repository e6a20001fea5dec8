// The main window's webcam preview, recording, transcoding, cutting and deletion.
#include "app/globals.h"
#include "app/principalw.h"
#include "common/dialogs.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"

#include <QTimerEvent>

namespace kel {

void PrincipalW::startPreview() {
    if (webcamTimerId)
        killTimer(webcamTimerId);
    webcamTimerId = startTimer(40);
}

void PrincipalW::stopPreview() {
    if (webcamTimerId)
        killTimer(webcamTimerId);
    webcamTimerId = 0;
}

void PrincipalW::timerEvent(QTimerEvent* event) {
    if (event->timerId() != webcamTimerId) {
        QMainWindow::timerEvent(event);
        return;
    }
    if (webcamCapture) {
        webcamAvailable = true;
        cv::Mat frame;
        if (webcamCapture->read(frame))
            webcamView->showFrame(frame);
    } else if (warnNoWebcam) {
        webcamAvailable = false;
        webcamView->hide();
        stopPreview();
        dialogs().platformBox(QStringLiteral("KEL"),
                              QStringLiteral("Aucune webcam n'a été détectée !"),
                              Dialogs::Icon::Warning);
        warnNoWebcam = false;
    }
}

void PrincipalW::enregistrerAnnotation() {}
void PrincipalW::transcodeAnnotation(const QString&) {}
void PrincipalW::isCompressionAnnotationTerminee() {}
void PrincipalW::stopTranscodingAtQuit() {}
void PrincipalW::couperDebut() {}
void PrincipalW::couperFin() {}
void PrincipalW::supprimerAnnotation() {}

} // namespace kel
