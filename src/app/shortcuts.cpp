#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"

#include <QPushButton>
#include <QShortcut>

namespace kel {

namespace {
// A key that does what a click on `button` does, when the button can be clicked.
void bindKey(QWidget* window, const QKeySequence& key, QPushButton* button, const QString& name) {
    auto* shortcut = new QShortcut(key, window);
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled())
            button->click();
    });
    button->setToolTip(QStringLiteral("%1 (%2)").arg(button->toolTip(), name));
}
} // namespace

void PrincipalW::setUpShortcuts() {
    const MyVideoPlayer* p = m_studentPlayer;
    bindKey(this, Qt::Key_Space, p->bLecture, QStringLiteral("Espace"));
    bindKey(this, Qt::Key_Left, p->bTramePrecedente, QStringLiteral("Flèche gauche"));
    bindKey(this, Qt::Key_Right, p->bTrameSuivante, QStringLiteral("Flèche droite"));
    bindKey(this, Qt::SHIFT | Qt::Key_Left, p->bRetourRapide, QStringLiteral("Maj+Flèche gauche"));
    bindKey(this, Qt::SHIFT | Qt::Key_Right, p->bAvanceRapide, QStringLiteral("Maj+Flèche droite"));
    bindKey(this, Qt::Key_Home, p->bDebut, QStringLiteral("Origine"));
    bindKey(this, Qt::Key_End, p->bFin, QStringLiteral("Fin"));
    bindKey(this, Qt::Key_R, bEnregistrerAnnotation, QStringLiteral("R"));

    const auto markKey = [this](Qt::Key key, bool next) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this, next] { seekToMark(next); });
    };
    markKey(Qt::Key_N, true);
    markKey(Qt::Key_P, false);
    p->seekSlider->setToolTip(QStringLiteral("Annotations : précédente (P), suivante (N)"));
}

void PrincipalW::seekToMark(bool next) {
    if (!m_studentPlayer->lectureDemarree)
        return;
    const SeekSlider* slider = m_studentPlayer->seekSlider;
    const qint64 now = m_studentPlayer->lecteur->currentTime();
    const qint64 target = next ? slider->nextMark(now) : slider->previousMark(now);
    if (target < 0)
        return;
    VideoPlayer* player = m_studentPlayer->lecteur;
    // A player stopped at the end of the video shows no picture until it is paused.
    if (!player->isPlaying() && !player->isPaused())
        player->pause();
    player->seek(target);
    m_studentPlayer->updateTimer();
}

} // namespace kel
