// The main window's export command and progress display.
#include "app/globals.h"
#include "app/principalw.h"

namespace kel {

void PrincipalW::exporter() {}
void PrincipalW::timerProgressBar() {}
void PrincipalW::cleanUpExportAtQuit() {}

} // namespace kel
