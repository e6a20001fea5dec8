#include "export_settings.h"

namespace kel {

MontageGeometry montageGeometry(Resolution resolution, bool sizeChanged, int largeTop,
                                int largeWidth, int largeHeight) {
    MontageGeometry g;
    switch (resolution) {
    case Resolution::Grande:
        g = {640, 480, 330, 170, 150, 75, 25, 18};
        if (sizeChanged) {
            g.insetTop = largeTop;
            g.insetWidth = largeWidth;
            g.insetHeight = largeHeight;
        }
        break;
    case Resolution::Moyenne:
        // 94, not the 93 that 150 / 1.6 truncates to: the default is its own value.
        g = {400, 300, 206, 106, 94, 57, 16, 14};
        if (sizeChanged) {
            g.insetTop = int(largeTop / 1.6);
            g.insetWidth = int(largeWidth / 1.6);
            g.insetHeight = int(largeHeight / 1.6);
        }
        break;
    case Resolution::Faible:
        g = {320, 240, 165, 85, 75, 42, 13, 10};
        if (sizeChanged) {
            g.insetTop = int(largeTop / 2.0);
            g.insetWidth = int(largeWidth / 2.0);
            g.insetHeight = int(largeHeight / 2.0);
        }
        break;
    case Resolution::None:
        break;
    }
    return g;
}

int montageBitRate(int frameWidth) {
    switch (frameWidth) {
    case 320:
        return 384;
    case 640:
        return 768;
    default:
        return 512;
    }
}

Resolution resolutionFromName(const QString& name) {
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("grande"))
        return Resolution::Grande;
    if (n == QLatin1String("moyenne"))
        return Resolution::Moyenne;
    if (n == QLatin1String("faible"))
        return Resolution::Faible;
    return Resolution::None;
}

} // namespace kel
