// The main window's help command.
#include "app/principalw.h"
#include "help/help_window.h"

namespace kel {

// Every click opens another help window; earlier ones stay open until closed.
void PrincipalW::aide() {
    new HelpW; // a window of its own, which stays when this one goes
}

} // namespace kel
