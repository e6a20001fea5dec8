#include "window_layout.h"

namespace kel {

namespace {
// In full screen the student's video starts near the top-left corner: the command bar is hidden.
constexpr QPoint kStudentOnlyShift(-14, -20);
} // namespace

void WindowLayout::add(QWidget* widget, Anchors anchors) {
    m_items.append({widget, widget->geometry(), anchors});
}

QRect WindowLayout::placed(QRect base, Anchors anchors, QSize extra, int leftExtra) {
    const bool left = anchors.half != Half::Right;
    const int halfExtra = left ? leftExtra : extra.width() - leftExtra;
    QRect r = base.translated(left ? 0 : leftExtra, 0);
    switch (anchors.horizontal) {
    case Horizontal::Left:
        break;
    case Horizontal::Right:
        r.translate(halfExtra, 0);
        break;
    case Horizontal::Stretch:
        r.setWidth(r.width() + halfExtra);
        break;
    }
    switch (anchors.vertical) {
    case Vertical::Top:
        break;
    case Vertical::Bottom:
        r.translate(0, extra.height());
        break;
    case Vertical::Stretch:
        r.setHeight(r.height() + extra.height());
        break;
    }
    return r;
}

void WindowLayout::apply(QSize size, bool studentOnly) {
    QSize extra = size - m_default;
    int leftExtra = extra.width() / 2;
    if (studentOnly) {
        extra.rheight() -= kStudentOnlyShift.y();
        leftExtra = size.width() - m_default.width() / 2 - 2 * kStudentOnlyShift.x();
    }
    for (Item& item : m_items) {
        if (!item.widget)
            continue;
        const bool student = item.anchors.half == Half::Left;
        if (studentOnly && !student && !item.widget->isHidden()) {
            item.widget->hide();
            item.hiddenByLayout = true;
        } else if (!studentOnly && item.hiddenByLayout) {
            item.widget->show();
            item.hiddenByLayout = false;
        }
        QRect r = placed(item.base, item.anchors, extra, leftExtra);
        if (studentOnly && student)
            r.translate(kStudentOnlyShift.x(),
                        item.anchors.vertical == Vertical::Top ? 0 : kStudentOnlyShift.y());
        item.widget->setGeometry(r);
    }
}

} // namespace kel
