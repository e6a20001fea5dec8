#include "globals.h"

namespace kel {

PrincipalW* mainWindow = nullptr;
Export* exportWindow = nullptr;
HelpW* helpWindow = nullptr;

const QString noAnnotationText = QStringLiteral("Aucune annotation");

} // namespace kel
