#pragma once

// Recordings made through the main window as a teacher makes them: the countdown, then Space.

#include "app/principalw.h"
#include "recording/recording_window.h"
#include "support/scripted_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace testrec {

// A main window fed by `camera` on a fresh project folder, its boxes scripted.
struct Studio {
    ScriptedDialogs dialogs;
    kel::PrincipalW w;
    Studio(const QString& camera, const QTemporaryDir& tmp) : w(camera) {
        static int projects = 0;
        w.projectDir = tmp.filePath(QStringLiteral("Projet élève %1").arg(++projects));
        QDir().mkpath(w.projectDir);
        w.setCountdownStepMs(20);
    }
    QString file(int n) const {
        return QDir(w.projectDir).filePath(QStringLiteral("annotation%1.avi").arg(n));
    }
};

struct Session {
    QList<int> figures;     // the countdown as shown, 0 at its end
    qint64 recordedMs = -1; // from the end of the countdown to Space
};

// Presses Space `durationMs` after the countdown (never when negative); `poll` sees the recording
// window every few milliseconds.
inline Session record(kel::PrincipalW& w, int durationMs,
                      const std::function<void(kel::RecordingWindow*)>& poll = {}) {
    Session s;
    QElapsedTimer sinceCountdown;
    QObject* seen = nullptr;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        kel::RecordingWindow* window = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* r = qobject_cast<kel::RecordingWindow*>(top); r && r->isVisible())
                window = r;
        if (!window || s.recordedMs >= 0)
            return;
        if (window != seen) {
            seen = window;
            s.figures << window->countdown();
            QObject::connect(window, &kel::RecordingWindow::countdownChanged, &timer,
                             [&s](int figure) { s.figures << figure; });
            QObject::connect(window, &kel::RecordingWindow::countdownFinished, &timer,
                             [&] { sinceCountdown.start(); });
        }
        if (!window->isCountingDown() && !sinceCountdown.isValid())
            sinceCountdown.start(); // over before this poll first saw the window
        if (poll)
            poll(window);
        if (durationMs >= 0 && sinceCountdown.isValid() && sinceCountdown.elapsed() >= durationMs) {
            s.recordedMs = sinceCountdown.elapsed();
            QTest::keyClick(window, Qt::Key_Space);
        }
    });
    timer.start(2);
    w.enregistrerAnnotation();
    return s;
}

} // namespace testrec
