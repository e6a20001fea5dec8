#include "annotation.h"

namespace kel {

Annotation::Annotation(QObject* parent) : QObject(parent) {}

Annotation::~Annotation() = default;

} // namespace kel
