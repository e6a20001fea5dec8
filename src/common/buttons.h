#pragma once

#include <QRect>
#include <QString>

class QFont;
class QPushButton;
class QWidget;

namespace kel {

// A button at `geometry` on `parent`, named `name` (how the window and its tests find it).
QPushButton* textButton(QWidget* parent, const char* name, QRect geometry, const QString& text,
                        const QFont& font, const QString& tooltip = QString());
// The same with an icon file of the resources, drawn `iconSize` pixels square.
QPushButton* iconButton(QWidget* parent, const char* name, QRect geometry, const QString& icon,
                        int iconSize, const QString& tooltip);

} // namespace kel
