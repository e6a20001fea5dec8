#pragma once

#include <QString>

namespace kel {

// Path of a runtime file (icon, help video, manual): beside the executable first, then in the
// installed data folder (share/kel beside bin/), then in the working directory. Returns the
// working-directory path when none exists.
QString resourcePath(const QString& name);

} // namespace kel
