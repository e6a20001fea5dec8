#include "transport_keys.h"

#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"

#include <QPushButton>
#include <QShortcut>

namespace kel {

void bindKey(QWidget* window, const QKeySequence& key, QPushButton* button, const QString& name) {
    auto* shortcut = new QShortcut(key, window);
    QObject::connect(shortcut, &QShortcut::activated, button, [button] {
        if (button->isEnabled())
            button->click();
    });
    button->setToolTip(QStringLiteral("%1 (%2)").arg(button->toolTip(), name));
}

void bindTransportKeys(QWidget* window, MyVideoPlayer* p) {
    bindKey(window, Qt::Key_Space, p->bLecture, QStringLiteral("Espace"));
    bindKey(window, Qt::Key_Left, p->bTramePrecedente, QStringLiteral("Flèche gauche"));
    bindKey(window, Qt::Key_Right, p->bTrameSuivante, QStringLiteral("Flèche droite"));
    bindKey(window, Qt::SHIFT | Qt::Key_Left, p->bRetourRapide,
            QStringLiteral("Maj+Flèche gauche"));
    bindKey(window, Qt::SHIFT | Qt::Key_Right, p->bAvanceRapide,
            QStringLiteral("Maj+Flèche droite"));
    bindKey(window, Qt::Key_Home, p->bDebut, QStringLiteral("Origine"));
    bindKey(window, Qt::Key_End, p->bFin, QStringLiteral("Fin"));
    for (const auto& [key, next] : {std::pair{Qt::Key_N, true}, {Qt::Key_P, false}}) {
        auto* shortcut = new QShortcut(key, window);
        QObject::connect(shortcut, &QShortcut::activated, p,
                         [p, next = next] { seekToMark(p, next); });
    }
    p->seekSlider->setToolTip(QStringLiteral("Annotations : précédente (P), suivante (N)"));
}

void seekToMark(MyVideoPlayer* p, bool next) {
    if (!p->lectureDemarree)
        return;
    const qint64 now = p->lecteur->currentTime();
    const qint64 target = next ? p->seekSlider->nextMark(now) : p->seekSlider->previousMark(now);
    if (target < 0)
        return;
    VideoPlayer* player = p->lecteur;
    // A player stopped at the end of the video shows no picture until it is paused.
    if (!player->isPlaying() && !player->isPaused())
        player->pause();
    player->seek(target);
    p->updateTimer();
}

} // namespace kel
