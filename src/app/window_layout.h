#pragma once

#include <QList>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

namespace kel {

// How the main window's widgets follow a window larger than the default: the extra room goes
// half to the student's video, half to the comments, each widget keeping to the edges of its half
// it is anchored to. At the default size every widget is where it was created.
class WindowLayout {
public:
    // Bar: the command bar above the student's video, which stays put.
    enum class Half { Left, Right, Bar };
    enum class Horizontal { Left, Right, Stretch };
    enum class Vertical { Top, Bottom, Stretch };
    struct Anchors {
        Half half;
        Horizontal horizontal;
        Vertical vertical;
    };

    explicit WindowLayout(QSize defaultSize) : m_default(defaultSize) {}

    // `widget` as placed now is its place at the default size.
    void add(QWidget* widget, Anchors anchors);
    // Places every widget for a window of `size`. `studentOnly`: the left half takes the whole
    // window (full screen) and the right half's widgets are hidden; the others keep their
    // visibility.
    void apply(QSize size, bool studentOnly);

    // `base`, placed at the default size, in a window `extra` larger; the left half gets
    // `leftExtra` of the extra width.
    static QRect placed(QRect base, Anchors anchors, QSize extra, int leftExtra);

private:
    struct Item {
        QPointer<QWidget> widget;
        QRect base;
        Anchors anchors;
        bool hiddenByLayout = false;
    };
    QSize m_default;
    QList<Item> m_items;
};

} // namespace kel
