#pragma once

#include <QString>

namespace kel {

// The one rule that names annotation files: "annotation" + number + ".avi".
QString annotationFileName(int number);
// The number of an annotation file name (a path's directory is ignored), 0 when the name is not
// one of an annotation file: no leading zero, the case as annotationFileName() writes it, and a
// number that leaves room for a next one.
int annotationNumber(const QString& fileName);

} // namespace kel
