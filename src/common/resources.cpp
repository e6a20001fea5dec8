#include "resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#ifndef KEL_DATA_FROM_BIN
#define KEL_DATA_FROM_BIN "../share/kel"
#endif

namespace kel {

QString resourcePath(const QString& name) {
    const QDir exeDir(QCoreApplication::applicationDirPath());
    // Relative to the executable, so that an install under any prefix (or DESTDIR) finds its own.
    for (const QString& path :
         {exeDir.filePath(name), exeDir.filePath(QStringLiteral(KEL_DATA_FROM_BIN "/") + name)}) {
        if (QFileInfo::exists(path))
            return QDir::cleanPath(path);
    }
    return QDir::current().filePath(name);
}

} // namespace kel
