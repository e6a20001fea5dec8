#include "buttons.h"

#include "common/resources.h"

#include <QPushButton>

namespace kel {

QPushButton* textButton(QWidget* parent, const char* name, QRect geometry, const QString& text,
                        const QFont& font, const QString& tooltip) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    b->setFont(font);
    b->setToolTip(tooltip);
    return b;
}

QPushButton* iconButton(QWidget* parent, const char* name, QRect geometry, const QString& icon,
                        int iconSize, const QString& tooltip) {
    auto* b = textButton(parent, name, geometry, QString(), parent->font(), tooltip);
    b->setIcon(QIcon(resourcePath(icon)));
    b->setIconSize(QSize(iconSize, iconSize));
    return b;
}

} // namespace kel
