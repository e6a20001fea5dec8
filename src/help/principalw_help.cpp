// The main window's help command.
#include "app/globals.h"
#include "app/principalw.h"

namespace kel {

void PrincipalW::aide() {}

} // namespace kel
