#pragma once

namespace kel {

// SIGINT, SIGTERM and SIGHUP end the application through its event loop, as closing its window
// would: what runs in the background stops and removes what it had half written. Call once the
// application object exists.
void quitOnSignals();

} // namespace kel
