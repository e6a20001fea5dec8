#pragma once

// What one window of the run reaches in another.

#include <QString>

namespace kel {

class PrincipalW;
class Export;
class HelpW;

extern PrincipalW* mainWindow;
// The last export and help windows opened.
extern Export* exportWindow;
extern HelpW* helpWindow;

extern const QString noAnnotationText; // "Aucune annotation"

} // namespace kel
