#include "resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kel {

QString resourcePath(const QString& name) {
    const QString besideExe = QDir(QCoreApplication::applicationDirPath()).filePath(name);
    if (QFileInfo::exists(besideExe))
        return besideExe;
    return QDir::current().filePath(name);
}

} // namespace kel
