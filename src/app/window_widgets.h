#pragma once

#include "app/window_layout.h"

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPropertyAnimation;
class QPushButton;
class QTimer;

namespace kel {

class CommentPlayer;
class MyVideoPlayer;
class QOpenCVWidget;
struct SessionAnnotation;

// The main window's own widgets, at their places for the default size, each named as the window
// knows it (tests find them by that name), and how they follow a larger window.
struct WindowWidgets {
    WindowWidgets(QWidget* window, MyVideoPlayer* student);

    // Shows the comment's player and its controls, or the webcam preview when `preview`.
    void showCommentArea(bool shown, bool preview);
    // Says `text` in the status line, which fades after a few seconds.
    void showStatus(const QString& text);

    // In creation order (the keyboard focus follows it).
    CommentPlayer* comment;
    QOpenCVWidget* webcamView;
    QPushButton* bNouveau;
    QPushButton* bOuvrirProjet;
    QPushButton* bOuvrirVideo;
    QPushButton* bEnregistrerProjet;
    QPushButton* bExporter;
    QPushButton* bAide;
    QPushButton* bQuitter;
    QPushButton* bOuvrirAnnotation;
    QPushButton* bEnregistrerAnnotation;
    QPushButton* bCouperDebut;
    QPushButton* bCouperFin;
    QPushButton* bSupprimerAnnotation;
    QComboBox* comboAnnotations;
    // Right of the list: the title of the comment in the player.
    QPushButton* bTitreAnnotation;
    QFrame* lineLeft;
    QFrame* lineRight;
    QProgressBar* progressBar;
    // The open project's name, between the project buttons and the progress bar.
    QLabel* labelProjet;
    // Over the project's name for a few seconds: what the last command did.
    QLabel* labelStatut;
    // Left of the speed: the student's video alone, full screen.
    QPushButton* bPleinEcran;
    // Right of the progress bar, shown while a montage renders.
    QPushButton* bAnnulerExport;
    // Recordings mirrored as the preview, or as the camera sees the teacher; remembered.
    QCheckBox* cbMiroir;

    WindowLayout layout;

private:
    void createCommentArea(QWidget* window);
    void createCommandButtons(QWidget* window);
    void createProjectBar(QWidget* window);
    void anchorWidgets(MyVideoPlayer* student);

    QTimer* m_statusTimer;
    QPropertyAnimation* m_statusFade;
};

// "n°2 · « Les mains » · 00:37 · lecture · 4,1 s ✂": number, title, second in the student's
// video, Type, length as played (after its cuts), and a mark when trimmed.
QString annotationLabel(const SessionAnnotation& a);

} // namespace kel
