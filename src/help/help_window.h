#pragma once

#include <QMainWindow>

class QLabel;
class QPushButton;
class QTextEdit;

namespace kel {

class SeekSlider;
class VideoPlayer;

// The help window: the presentation video in sign language, the version and the credits, and the
// two documentations (a video in LSF, the French manual in PDF), each in a window of its own.
// Every window here has no parent and outlives the others: closing one only hides it.
class HelpW : public QMainWindow {
    Q_OBJECT
public:
    HelpW();

    VideoPlayer* videoPlayer;
    SeekSlider* videoSlider;
    QPushButton* bPlay;
    QPushButton* bDocFr;
    QPushButton* bFermer;
    QPushButton* bDocLSF;
    QLabel* versionLabel;
    QLabel* noticeLabel;
    QTextEdit* creditsText;
    // The documentation windows opened last; "Fermer" in any of them closes these.
    QMainWindow* lsfWindow = nullptr;
    VideoPlayer* lsfPlayer = nullptr;
    SeekSlider* lsfSlider = nullptr;
    QPushButton* bPlayLSF = nullptr;
    QPushButton* bFermerLSF = nullptr;
    QMainWindow* frWindow = nullptr;
    QPushButton* bFermerFr = nullptr;
    QWidget* frContainer = nullptr;

public slots:
    void docLSF();
    void docFr();
    void fermer();
    void fermerHelpLsf();
    void fermerHelpFr();
    void play();
    void playLSF();
};

} // namespace kel
