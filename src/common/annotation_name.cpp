#include "annotation_name.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <climits>

namespace kel {

QString annotationFileName(int number) {
    return QStringLiteral("annotation%1.avi").arg(number);
}

int annotationNumber(const QString& fileName) {
    static const QRegularExpression rule(QStringLiteral("^annotation([1-9][0-9]{0,9})\\.avi$"));
    const QRegularExpressionMatch m = rule.match(QFileInfo(fileName).fileName());
    const qint64 number = m.hasMatch() ? m.captured(1).toLongLong() : 0;
    return number < INT_MAX ? int(number) : 0;
}

} // namespace kel
