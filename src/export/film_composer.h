#pragma once

#include "export/export_settings.h"

#include <QString>

#include <opencv2/core.hpp>

namespace kel {

// The MP4's frame, made for signing: every picture fitted whole with its aspect kept (a signer's
// hands reach the edges). Between comments the student's picture alone; while a comment plays, the
// student's still picture and the comment where the layout puts it, with its caption on a dark
// band that reads on any picture. Pictures and frames are 4:2:0 (yuv_picture.h).
class FilmComposer {
public:
    FilmComposer(const MontageGeometry& g, MontageLayout layout);

    cv::Size frameSize() const { return m_frame; }
    // Where a student's picture of this display size lands, alone or beside a comment.
    cv::Rect studentRect(cv::Size display, bool withComment) const;
    // The comment's box (black where its picture leaves room) and its picture inside.
    cv::Rect commentBox(cv::Size display) const;
    cv::Rect commentRect(cv::Size display) const;
    // The caption's dark band, above the comment's picture.
    cv::Rect captionBand() const { return m_band; }

    // The student's picture alone; `fitted` at studentRect(display, false).
    const cv::Mat& student(const cv::Mat& fitted, const cv::Rect& rect);
    // A comment starts: the student's still picture (at studentRect(display, true)) and the
    // caption drawn once for all its frames.
    void beginComment(const cv::Mat& student, const cv::Rect& studentAt, cv::Size commentDisplay,
                      const QString& caption);
    // One frame of the comment; `fitted` at commentRect's size.
    const cv::Mat& comment(const cv::Mat& fitted);

    // The caption's pixel size for this frame.
    static int captionPx(cv::Size frame);

private:
    void renderCaption(const QString& text);
    void drawCaption(cv::Mat& frame) const;

    MontageGeometry m_g;
    MontageLayout m_layout;
    cv::Size m_frame;
    cv::Mat m_out;
    cv::Mat m_base; // the frame under the comment: the student's still picture, the black box
    cv::Rect m_fit;
    cv::Rect m_commentAt;
    cv::Rect m_band;
    cv::Mat m_alpha, m_luma; // the caption's coverage and the luma it brings (premultiplied)
    cv::Mat m_chromaAlpha;   // the coverage at half size
};

} // namespace kel
