// The main window's project file operations and project lifecycle.
#include "app/globals.h"
#include "app/principalw.h"

namespace kel {

void PrincipalW::addAnnotationEntry(int) {}
void PrincipalW::writeAnnotationEntry(int, int, int) {}
void PrincipalW::loadAnnotationSchedule() {}
void PrincipalW::updateAnnotationEntry(int, double, double, double) {}
bool PrincipalW::isPauseType(const QString&) { return false; }
int PrincipalW::highestAnnotationNumber() { return 0; }
void PrincipalW::listProjectAnnotations() {}
void PrincipalW::registerAnnotation(const QString&) {}
void PrincipalW::on_bNouveau_clicked() {}
void PrincipalW::on_bOuvrirProjet_clicked() {}
void PrincipalW::remplirListe() {}
void PrincipalW::enregistrerProjet() { projectSaved = true; }

} // namespace kel
