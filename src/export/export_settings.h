#pragma once

#include <QString>

namespace kel {

// The frame size chosen in the export window.
enum class Resolution { None, Grande, Moyenne, Faible };

// Sizes of one montage: frame, annotation inset (its left edge is 0) and caption label.
struct MontageGeometry {
    int frameWidth = 400;
    int frameHeight = 300;
    int insetTop = 206;
    int insetWidth = 106;
    int insetHeight = 94;
    int captionWidth = 57;
    int captionHeight = 16;
    int captionFontPx = 14;
};

// The large-frame inset for a slider value: it grows upwards and to the right, its bottom edge on
// the bottom of a 640 x 480 frame.
inline int largeInsetTop(int sliderValue) {
    return 330 - sliderValue;
}
inline int largeInsetWidth(int sliderValue) {
    return 170 + sliderValue;
}
inline int largeInsetHeight(int sliderValue) {
    return 150 + sliderValue;
}

// The montage sizes for a resolution. The large-frame inset counts only once the slider has moved
// (`sizeChanged`), and never without a chosen resolution.
MontageGeometry montageGeometry(Resolution resolution, bool sizeChanged, int largeTop,
                                int largeWidth, int largeHeight);

// H.264 bit rate of the compressed montage, in kbit/s, by frame width.
int montageBitRate(int frameWidth);

// "grande", "moyenne", "faible" (as typed on the command line); None for anything else.
Resolution resolutionFromName(const QString& name);

// The MP4's size for the web and phones: 1280 x 720, or 720 x 1280 for a `portrait` student's
// picture, with the inset of `g` grown to it, its bottom edge on the frame's.
MontageGeometry hdGeometry(const MontageGeometry& g, bool portrait);
// H.264 bit rate of the hd film, in kbit/s: signing hands move fast.
constexpr int kHdBitRate = 2500;

// Where the comment goes in the MP4 while it plays: the inset, a large box in a lower corner over
// the student's picture, or beside the student's picture (below it in a portrait frame).
enum class MontageLayout { Incrustation, Grande, Cote };
// "incrustation", "grande", "cote" (as typed on the command line); false for anything else.
bool layoutFromName(const QString& name, MontageLayout* layout);

} // namespace kel
