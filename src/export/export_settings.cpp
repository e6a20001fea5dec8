#include "export_settings.h"

#include <algorithm>
#include <cmath>

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

MontageGeometry hdGeometry(const MontageGeometry& g, bool portrait) {
    const double scale = 720.0 / std::max(1, std::min(g.frameWidth, g.frameHeight));
    const auto scaled = [scale](int v) { return int(std::lround(v * scale)); };
    MontageGeometry hd;
    hd.frameWidth = portrait ? 720 : 1280;
    hd.frameHeight = portrait ? 1280 : 720;
    hd.insetWidth = std::min(scaled(g.insetWidth), hd.frameWidth);
    hd.insetHeight = std::min(scaled(g.insetHeight), hd.frameHeight);
    hd.insetTop = hd.frameHeight - hd.insetHeight;
    hd.captionWidth = scaled(g.captionWidth);
    hd.captionHeight = scaled(g.captionHeight);
    hd.captionFontPx = scaled(g.captionFontPx);
    return hd;
}

bool layoutFromName(const QString& name, MontageLayout* layout) {
    const QString n = name.trimmed().toLower();
    if (n == QLatin1String("incrustation"))
        *layout = MontageLayout::Incrustation;
    else if (n == QLatin1String("grande"))
        *layout = MontageLayout::Grande;
    else if (n == QLatin1String("cote") || n == QStringLiteral("côte") ||
             n == QStringLiteral("côté"))
        *layout = MontageLayout::Cote;
    else
        return false;
    return true;
}

} // namespace kel
