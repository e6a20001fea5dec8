// The main window's student video and synchronised annotation playback.
#include "app/globals.h"
#include "app/principalw.h"

namespace kel {

void PrincipalW::ouvrirVideoEleve() {}
void PrincipalW::lectureVideo() {}
bool PrincipalW::openVideoFile(bool, bool) { return false; }
void PrincipalW::playAnnotationFile(const QString&) {}
void PrincipalW::timerAnnotations() {}
void PrincipalW::updateTimerProf() {}
void PrincipalW::selectAnnotationCombo() {}
void PrincipalW::playAnnotation() {}
void PrincipalW::pauseAnnotation() {}
void PrincipalW::lectureAnnotationTerminee() {}
void PrincipalW::ouvrirVideoProf() {}

} // namespace kel
