#pragma once

#include "export/export_settings.h"

#include <QFont>
#include <QRect>

#include <opencv2/core.hpp>

namespace kel {

// The montage frame: the student's picture fitted with its aspect ratio kept on black, and during
// an annotation the inset (filled and cropped) with its caption. Pictures and frames are 4:2:0
// (yuv_picture.h).
class MontageComposer {
public:
    static const char* const kCaption;
    // Luma above black, summed over the inset, above which an annotation's frame is kept.
    static constexpr double kMinInsetLuma = 14000;

    explicit MontageComposer(const MontageGeometry& g);

    // Where a picture of this display size lands: fitted whole, centred, with bars.
    cv::Rect studentRect(cv::Size display) const;
    // The size to scale an annotation of this display size to, so that it covers the inset.
    cv::Size insetFillSize(cv::Size display) const;

    // `fitted` is the student's picture at studentRect's size.
    void setStudent(const cv::Mat& fitted, const cv::Rect& rect);
    const cv::Mat& student() const { return m_student; }
    // The student's picture with this annotation (at insetFillSize) in the inset, and the caption.
    const cv::Mat& withAnnotation(const cv::Mat& filled);
    // An annotation's frame is kept only when its inset is not (nearly) black: a webcam's first
    // frames are.
    bool insetBrightEnough(const cv::Mat& frame) const;

    // The caption's font: bold, at the pixel size asked for, smaller when the installed font
    // would not fit the caption box.
    static QFont captionFont(const MontageGeometry& g);
    QRect captionBox() const { return {0, 0, m_g.captionWidth, m_g.captionHeight}; }

private:
    void renderCaption();
    void drawCaption(cv::Mat& frame);

    MontageGeometry m_g;
    cv::Mat m_student;
    cv::Mat m_out;
    cv::Rect m_fit;
    cv::Rect m_insetFull;
    cv::Rect m_insetVisible;
    QFont m_captionFont;
    cv::Mat m_captionAlpha;       // coverage of the caption's box
    cv::Mat m_captionChromaAlpha; // the same at half size
};

} // namespace kel
