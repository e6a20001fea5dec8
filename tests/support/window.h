#pragma once

// Drives the main window as a teacher would, its dialogs answered by a ScriptedDialogs.

#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "support/scripted_dialogs.h"

#include <QPushButton>
#include <QtTest>

namespace testwindow {

// Opens `project`, then `video` as the student's video; true once it plays, muted.
inline bool openProjectAndVideo(kel::PrincipalW& w, ScriptedDialogs& dialogs,
                                const QString& project, const QString& video) {
    QCoreApplication::processEvents(); // a teacher's click comes after what is already queued
    dialogs.directories.enqueue(project);
    w.on_bOuvrirProjet_clicked();
    dialogs.files.enqueue(video);
    QTest::mouseClick(w.bOuvrirVideo, Qt::LeftButton);
    kel::VideoPlayer* player = w.studentPlayer->lecteur;
    player->setMuted(true);
    return QTest::qWaitFor([player] { return player->isPlaying() && player->totalTime() > 0; });
}

} // namespace testwindow
