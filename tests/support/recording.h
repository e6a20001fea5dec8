#pragma once

// Recordings made through the main window as a teacher makes them: the countdown, then Space.

#include "app/principalw.h"
#include "app/recording_controller.h"
#include "project/project_session.h"
#include "recording/recording_window.h"
#include "support/scripted_dialogs.h"
#include "support/window.h"

#include <QApplication>
#include <QtTest>

namespace testrec {

// A main window fed by `camera` on a fresh project folder, its boxes scripted.
struct Studio {
    ScriptedDialogs dialogs;
    kel::PrincipalW w;
    Studio(const QString& camera, const QTemporaryDir& tmp) : w(camera) {
        static int projects = 0;
        const QString dir = tmp.filePath(QStringLiteral("Projet élève %1").arg(++projects));
        QDir().mkpath(dir);
        w.session()->open(dir);
        w.recording()->setCountdownStepMs(20);
    }
    QString file(int n) const { return w.session()->filePath(n); }
    void setCountdownStepMs(int ms) { w.recording()->setCountdownStepMs(ms); }
};

struct Session {
    QList<int> figures;     // the countdown as shown, 0 at its end
    qint64 recordedMs = -1; // from the end of the countdown to Space
};

// Presses record, then Space `durationMs` after the countdown (never when negative); `poll` sees
// the recording window every few milliseconds. Returns once the recording has ended.
inline Session record(kel::PrincipalW& w, int durationMs,
                      const std::function<void(kel::RecordingWindow*)>& poll = {}) {
    Session s;
    QElapsedTimer sinceCountdown;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* window = qobject_cast<kel::RecordingWindow*>(QApplication::activeModalWidget());
        if (!window || s.recordedMs >= 0)
            return;
        if (s.figures.isEmpty()) {
            s.figures << window->countdown();
            if (!window->isCountingDown()) // over before this poll first saw the window
                sinceCountdown.start();
            QObject::connect(window, &kel::RecordingWindow::countdownChanged, &timer,
                             [&s](int figure) { s.figures << figure; });
            QObject::connect(window, &kel::RecordingWindow::countdownFinished, &timer,
                             [&] { sinceCountdown.start(); });
        }
        if (poll)
            poll(window);
        if (durationMs >= 0 && sinceCountdown.isValid() && sinceCountdown.elapsed() >= durationMs) {
            s.recordedMs = sinceCountdown.elapsed();
            QTest::keyClick(window, Qt::Key_Space);
        }
    });
    timer.start(2);
    testwindow::invoke(w, "enregistrerAnnotation");
    if (!QTest::qWaitFor([&w] { return !w.recording()->isRecording(); }, 60000))
        qWarning("the recording did not end");
    QCoreApplication::processEvents(); // what its end queued
    return s;
}

} // namespace testrec
