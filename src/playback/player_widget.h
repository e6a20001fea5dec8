#pragma once

#include <QObject>
#include <QString>
#include <QTime>

class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QWidget;

namespace kel {

class SeekSlider;
class VideoPlayer;

// The student's player: a controller that creates its video surface, slider, seven transport
// buttons and time display on a host window, and implements the transport rules.
class MyVideoPlayer : public QObject {
    Q_OBJECT
public:
    explicit MyVideoPlayer(QWidget* host);
    ~MyVideoPlayer() override;

    VideoPlayer* lecteur;
    SeekSlider* seekSlider;
    QPushButton* bDebut;
    QPushButton* bRetourRapide;
    QPushButton* bTramePrecedente;
    QPushButton* bLecture;
    QPushButton* bTrameSuivante;
    QPushButton* bAvanceRapide;
    QPushButton* bFin;
    QLabel* labelTemps;
    QLabel* preparation; // what the player is making ready, when it is
    QComboBox* vitesse;  // playback speed, kept for the run
    QTimer* timerTemps;
    QTime tempsZero;
    bool lectureDemarree = false;
    QString fichierVideo;
    int nbAnnotationsJouees = 0;
    int fps = 0;

    // Length of one frame in ms; 40 ms (25 fps) when the rate is unknown.
    double frameLength() const;

public slots:
    void lectureVideo();
    void avanceRapideVideo();
    void retourRapideVideo();
    void tramePrecedente();
    void trameSuivante();
    void debutVideo();
    void finVideo();
    void updateTimer();
};

} // namespace kel
