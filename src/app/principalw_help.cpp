// The main window's help command.
#include "app/globals.h"
#include "app/principalw.h"
#include "help/help_window.h"

namespace kel {

// Every click opens another help window; earlier ones stay open until closed.
void PrincipalW::aide() {
    helpWindow = new HelpW;
}

} // namespace kel
