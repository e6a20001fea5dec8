#pragma once

// Drives the main window as a teacher would, its dialogs answered by a ScriptedDialogs. Widgets
// are found by their names, slots invoked by theirs.

#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "support/scripted_dialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QtTest>

namespace testwindow {

// What the windows remember (recent projects, the mirror, the last folder) stays in `dir`.
inline void keepSettingsIn(const QString& dir) {
    for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, dir);
}

template <typename T = QPushButton> T* part(const QObject& w, const char* name) {
    T* found = w.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no widget named %s", name);
    return found;
}

// What a click on the button does, enabled or not.
inline void invoke(kel::PrincipalW& w, const char* slot) {
    if (!QMetaObject::invokeMethod(&w, slot))
        qFatal("no slot named %s", slot);
}

// Chooses annotation `number` in the list, which plays it.
inline void playFromList(kel::PrincipalW& w, int number) {
    auto* list = part<QComboBox>(w, "comboAnnotations");
    list->setCurrentIndex(list->findData(number));
    emit list->activated(list->currentIndex());
}

// Opens `project` with the button, as the teacher does.
inline void openProject(kel::PrincipalW& w, ScriptedDialogs& dialogs, const QString& project) {
    dialogs.directories.enqueue(project);
    part(w, "bOuvrirProjet")->click();
}

// Opens `project`, then `video` as the student's video; true once it plays, muted.
inline bool openProjectAndVideo(kel::PrincipalW& w, ScriptedDialogs& dialogs,
                                const QString& project, const QString& video) {
    QCoreApplication::processEvents(); // a teacher's click comes after what is already queued
    openProject(w, dialogs, project);
    dialogs.files.enqueue(video);
    QTest::mouseClick(part(w, "bOuvrirVideo"), Qt::LeftButton);
    kel::VideoPlayer* player = w.studentPlayer()->lecteur;
    player->setMuted(true);
    return QTest::qWaitFor([player] { return player->isPlaying() && player->totalTime() > 0; });
}

} // namespace testwindow
