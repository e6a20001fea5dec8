#include "player_widget.h"

#include "common/timecode.h"

#include "seek_slider.h"
#include "video_player.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace kel {

namespace {
// Ten refreshes a second keep the display live; refreshing at every pass of the event loop would
// cost a core, and each refresh repaints part of the window.
constexpr int kRefreshMs = 100;
constexpr double kUnknownRateFrameMs = 40.0;

// "00:00:37.000 / 00:01:30.000": the position and the length of the video.
QString positionAndLength(int position, int length) {
    return clockText(position) + QStringLiteral(" / ") + clockText(length);
}
} // namespace

MyVideoPlayer::MyVideoPlayer(QWidget* host) : QObject(nullptr), tempsZero(0, 0, 0, 0) {
    lecteur = new VideoPlayer(host);
    lecteur->setGeometry(17, 65, 443, 365);
    seekSlider = new SeekSlider(host);
    seekSlider->setPlayer(lecteur);
    seekSlider->setGeometry(17, 435, 442, 15);

    QFont font(QStringLiteral("Courier"), 11, QFont::Bold);
    auto makeButton = [&](int x, const char* text, const char* tip) {
        auto* b = new QPushButton(QCoreApplication::translate("", text), host);
        b->setGeometry(x, 470, 31, 25);
        b->setToolTip(QString::fromUtf8(tip));
        b->setFont(font);
        return b;
    };
    bDebut = makeButton(20, "|<", "Aller au début de la video");
    bRetourRapide = makeButton(60, "<<", "Retour rapide");
    bTramePrecedente = makeButton(100, "-1", "Aller à la trame précédente");
    bLecture = makeButton(140, ">", "Lire la video");
    bTrameSuivante = makeButton(180, "+1", "Aller à la trame suivante");
    bAvanceRapide = makeButton(220, ">>", "Avance rapide");
    bFin = makeButton(260, ">|", "Aller à la fin de la video");
    // Wide enough for the position and the length side by side, in a smaller size of the same
    // font, up to the gap between the window's halves.
    labelTemps = new QLabel(QStringLiteral("00:00:00.00"), host);
    labelTemps->setGeometry(298, 470, 200, 25);
    labelTemps->setFont(QFont(QStringLiteral("Courier"), 9, QFont::Bold));

    // Between the slider and the buttons, while it has something to say.
    preparation = new QLabel(host);
    preparation->setGeometry(17, 451, 443, 17);
    preparation->setFont(QFont(QStringLiteral("Sans"), 8));
    preparation->hide();
    connect(lecteur, &VideoPlayer::preparing, this, [this](const QString& notice) {
        preparation->setText(notice);
        preparation->setVisible(!notice.isEmpty());
    });

    // Above the video, at its right end: the time display takes its old place.
    vitesse = new QComboBox(host);
    vitesse->setGeometry(402, 16, 58, 22);
    vitesse->setToolTip(QStringLiteral("Vitesse de lecture"));
    for (const auto& [text, rate] : {std::pair{"0,25×", 0.25},
                                     {"0,5×", 0.5},
                                     {"0,75×", 0.75},
                                     {"1×", 1.0},
                                     {"1,5×", 1.5},
                                     {"2×", 2.0}})
        vitesse->addItem(QString::fromUtf8(text), rate);
    vitesse->setCurrentIndex(3);
    connect(vitesse, &QComboBox::activated, this,
            [this](int i) { lecteur->setPlaybackRate(vitesse->itemData(i).toDouble()); });

    timerTemps = new QTimer(this);
    timerTemps->setInterval(kRefreshMs);
    connect(timerTemps, &QTimer::timeout, this, &MyVideoPlayer::updateTimer);

    // The button says what a click does, whatever changed the player's state.
    connect(lecteur, &VideoPlayer::stateChanged, this, [this] {
        bLecture->setText(lecteur->isPlaying() ? QStringLiteral("||") : QStringLiteral(">"));
    });
    connect(bLecture, &QPushButton::clicked, this, &MyVideoPlayer::lectureVideo);
    connect(bAvanceRapide, &QPushButton::clicked, this, &MyVideoPlayer::avanceRapideVideo);
    connect(bRetourRapide, &QPushButton::clicked, this, &MyVideoPlayer::retourRapideVideo);
    connect(bTrameSuivante, &QPushButton::clicked, this, &MyVideoPlayer::trameSuivante);
    connect(bTramePrecedente, &QPushButton::clicked, this, &MyVideoPlayer::tramePrecedente);
    connect(bDebut, &QPushButton::clicked, this, &MyVideoPlayer::debutVideo);
    connect(bFin, &QPushButton::clicked, this, &MyVideoPlayer::finVideo);
}

MyVideoPlayer::~MyVideoPlayer() = default;

double MyVideoPlayer::frameLength() const {
    return fps > 0 ? (1.0 / fps) * 1000.0 : kUnknownRateFrameMs;
}

void MyVideoPlayer::lectureVideo() {
    timerTemps->start();
    const int c = lecteur->currentTime();
    bLecture->setText(QStringLiteral(">"));
    if (!lectureDemarree) {
        lecteur->load(fichierVideo);
        lecteur->play();
        bLecture->setText(QStringLiteral("||"));
        lectureDemarree = true;
        nbAnnotationsJouees = 0;
    } else if (lecteur->isPaused()) {
        bLecture->setText(QCoreApplication::translate("MainWindow", "||"));
        lecteur->seek(c);
        lecteur->play();
    } else {
        bLecture->setText(QCoreApplication::translate("MainWindow", ">"));
        lecteur->pause();
    }
}

void MyVideoPlayer::avanceRapideVideo() {
    const int c = lecteur->currentTime();
    const int t = lecteur->totalTime();
    const int n = c + t / 10;
    if (n > t)
        lecteur->stop();
    else
        lecteur->seek(n);
    updateTimer();
}

void MyVideoPlayer::retourRapideVideo() {
    const int n = lecteur->currentTime() - lecteur->totalTime() / 10;
    lecteur->seek(n < 0 ? 0 : n);
    updateTimer();
}

// Each move shows its time at once: after >| the display's timer is stopped.
void MyVideoPlayer::trameSuivante() {
    if (lecteur->isPlaying())
        lecteur->pause();
    // By the frames' own times: a phone films at a rate that varies.
    const qint64 n = lecteur->frameFrom(lecteur->currentTime(), 1, frameLength());
    if (n >= 0 && n < lecteur->totalTime())
        lecteur->seek(n);
    updateTimer();
}

void MyVideoPlayer::tramePrecedente() {
    if (lecteur->isPlaying())
        lecteur->pause();
    const qint64 n = lecteur->frameFrom(lecteur->currentTime(), -1, frameLength());
    if (n >= 0)
        lecteur->seek(n);
    updateTimer();
}

void MyVideoPlayer::debutVideo() {
    if (lecteur->currentTime() <= 0)
        return;
    timerTemps->start();
    lecteur->seek(0);
    lecteur->play();
    bLecture->setText(QCoreApplication::translate("MainWindow", "||"));
    nbAnnotationsJouees = 0;
}

void MyVideoPlayer::finVideo() {
    const int t = lecteur->totalTime();
    if (t <= 0)
        return;
    timerTemps->stop();
    labelTemps->setText(positionAndLength(t, t));
    lecteur->seek(t);
    bLecture->setText(QCoreApplication::translate("MainWindow", ">"));
}

void MyVideoPlayer::updateTimer() {
    labelTemps->setText(positionAndLength(lecteur->currentTime(), lecteur->totalTime()));
}

} // namespace kel
