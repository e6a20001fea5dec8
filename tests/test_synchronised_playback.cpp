#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "project/project_session.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"
#include "support/window.h"

#include <QComboBox>
#include <QLabel>
#include <QMediaPlayer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using kel::PrincipalW;
using kel::ProjectFile;

// The student video and its annotations played by the real players, headless.
class TestSynchronisedPlayback : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString studentVideo, shortClip;

    QString makeProject(const QString& name, const QList<int>& numbers) {
        const QString dir = QDir(tmp.path()).filePath(name);
        QDir().mkpath(dir);
        for (int n : numbers)
            QFile::copy(shortClip, QDir(dir).filePath(ProjectFile::annotationFileName(n)));
        return dir;
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        studentVideo = QDir(tmp.path()).filePath(QStringLiteral("élève.avi"));
        QVERIFY(testmedia::makeVideo(studentVideo, QStringLiteral("testsrc"), 6));
        shortClip = QDir(tmp.path()).filePath(QStringLiteral("clip.avi"));
        QVERIFY(testmedia::makeVideo(shortClip, QStringLiteral("color=c=red"), 1, 25,
                                     QStringLiteral("160x120")));
    }

    // Annotation 1 at second 1 (student keeps playing), annotation 2 at second 3 made while the
    // student video was paused: it pauses the student video, which resumes when it ends. Then both
    // reviewed as the teacher would.
    void annotationsStartAtTheirSecond() {
        const QString dir = makeProject(QStringLiteral("projet d'essai é"), {1, 2});
        ProjectFile file(dir);
        QCOMPARE(file.writeAnnotationEntry(1, 0, 25), ProjectFile::WriteResult::Written);
        QCOMPARE(file.writeAnnotationEntry(2, 1, 75), ProjectFile::WriteResult::Written);

        ScriptedDialogs dialogs;
        PrincipalW w(QStringLiteral("/nonexistent/camera.avi"));
        w.show();

        struct Start {
            int number;
            int studentMs;
        };
        QList<Start> starts;
        connect(w.annotationPlayer->mediaPlayer(), &QMediaPlayer::sourceChanged, this,
                [&](const QUrl& url) {
                    if (!url.isEmpty())
                        starts.append({ProjectFile::annotationNumber(url.fileName()),
                                       w.studentPlayer->lecteur->currentTime()});
                });
        QVERIFY(testwindow::openProjectAndVideo(w, dialogs, dir, studentVideo));
        QCOMPARE(w.session->count(), 2);

        QTRY_COMPARE_WITH_TIMEOUT(starts.size(), 1, 4000);
        QCOMPARE(starts[0].number, 1);
        QVERIFY2(starts[0].studentMs >= 1000 && starts[0].studentMs < 1400,
                 qPrintable(QString::number(starts[0].studentMs)));
        QVERIFY(w.annotationPlayer->isVisible());
        // The list shows the annotation that plays.
        QCOMPARE(w.comboAnnotations->currentData().toInt(), 1);
        // Both videos play at once.
        QTRY_VERIFY_WITH_TIMEOUT(w.annotationPlayer->currentTime() > 300, 2000);
        QVERIFY(w.studentPlayer->lecteur->isPlaying());

        QTRY_COMPARE_WITH_TIMEOUT(starts.size(), 2, 5000);
        QCOMPARE(starts[1].number, 2);
        QVERIFY2(starts[1].studentMs >= 3000 && starts[1].studentMs < 3400,
                 qPrintable(QString::number(starts[1].studentMs)));
        QVERIFY(w.studentPlayer->lecteur->isPaused());
        const int pausedAt = w.studentPlayer->lecteur->currentTime();

        // The end of the annotation resumes the student video where it stood.
        QTRY_VERIFY_WITH_TIMEOUT(w.studentPlayer->lecteur->isPlaying(), 4000);
        QCOMPARE(w.studentPlayer->bLecture->text(), QStringLiteral("||"));
        QVERIFY(w.studentPlayer->lecteur->currentTime() >= pausedAt);
        QVERIFY(!w.annotationPlayer->isVisible());
        QCOMPARE(w.session->dueAnnotation(3000), 0);

        // Each played annotation has its duration written once.
        QCOMPARE(testmedia::contents(file.path()).count("<Duree "), 2);

        // Reviewed from the list, an annotation leaves the student's video as the teacher left it,
        // paused then ended; N and P, after the end too, show the mark's picture and time.
        kel::VideoPlayer* student = w.studentPlayer->lecteur;
        for (const bool ended : {false, true}) {
            if (ended) {
                student->seek(5500);
                student->play();
                QTRY_VERIFY_WITH_TIMEOUT(!student->isPlaying() && !student->isPaused(), 5000);
            } else {
                student->pause();
                student->seek(2000);
                QTRY_VERIFY(student->isPaused() && student->currentTime() == 2000);
            }
            QCOMPARE(w.studentPlayer->bLecture->text(), QStringLiteral(">"));
            const int before = student->currentTime();
            w.comboAnnotations->setCurrentIndex(0);
            emit w.comboAnnotations->activated(0);
            QTRY_VERIFY(w.annotationPlayer->isPlaying());
            QTRY_VERIFY_WITH_TIMEOUT(w.annotationPlayer->isHidden(), 5000);
            QTest::qWait(300);
            QVERIFY(!student->isPlaying());
            QCOMPARE(student->currentTime(), before);
            QTest::keyClick(&w, ended ? Qt::Key_P : Qt::Key_N);
            QTRY_VERIFY(student->isPaused() && student->currentTime() == 3000);
            QCOMPARE(w.studentPlayer->labelTemps->text(),
                     QStringLiteral("00:00:03.000 / 00:00:06.000"));
        }
    }

    void import_data() {
        QTest::addColumn<QString>("chosen"); // "clip", "text", "missing" or "" (cancelled)
        QTest::addColumn<int>("newNumber");  // 0: nothing imported
        QTest::addColumn<QString>("box");    // kind of box shown, if any
        QTest::newRow("largest 4 gives 5") << "clip" << 5 << "";
        QTest::newRow("cancelled") << "" << 0 << "";
        QTest::newRow("not a video") << "text" << 0 << "platform";
        QTest::newRow("unreadable") << "missing" << 0 << "information";
    }
    void import() {
        QFETCH(QString, chosen);
        QFETCH(int, newNumber);
        QFETCH(QString, box);
        const QString dir =
            makeProject(QStringLiteral("import-") + QTest::currentDataTag(), {1, 4});
        ProjectFile file(dir);
        QCOMPARE(file.writeAnnotationEntry(1, 0, 50), ProjectFile::WriteResult::Written);
        const QList<int> scheduleBefore = file.loadAnnotationSchedule();

        const QString path = chosen == "clip"   ? shortClip
                             : chosen.isEmpty() ? QString()
                                                : QDir(tmp.path()).filePath(chosen + ".avi");
        QVERIFY(chosen != "text" || testmedia::writeFile(path, "ceci n'est pas une video\n"));

        ScriptedDialogs dialogs;
        PrincipalW w(QStringLiteral("/nonexistent/camera.avi"));
        QVERIFY(testwindow::openProjectAndVideo(w, dialogs, dir, studentVideo));
        w.studentPlayer->lecteur->pause();
        const int countBefore = w.session->count();
        const int boxesBefore = dialogs.shown.size();
        if (!path.isEmpty())
            dialogs.files.enqueue(path);
        QTest::mouseClick(w.bOuvrirAnnotation, Qt::LeftButton);

        QCOMPARE(dialogs.fileDialogDirs.last(), dir);
        QCOMPARE(ProjectFile::listAnnotationFiles(dir).size(), newNumber ? 3 : 2);
        QCOMPARE(w.session->count(), countBefore + (newNumber ? 1 : 0));
        const QList<int> schedule = file.loadAnnotationSchedule();
        QCOMPARE(schedule.mid(0, 2), scheduleBefore);
        QCOMPARE(schedule.size(), newNumber ? 4 : 2);
        if (newNumber) {
            QCOMPARE(schedule[2], 5);
            QVERIFY(w.session->isPauseType(5));
            const QString item = w.comboAnnotations->currentText();
            QVERIFY2(item.startsWith("n°5 · ") && item.endsWith(" · pause"), qPrintable(item));
        }
        QCOMPARE(dialogs.shown.size(), boxesBefore + (box.isEmpty() ? 0 : 1));
        QVERIFY(box.isEmpty() || dialogs.shown.last().kind == box);
    }

    void unplayableStudentVideoKeepsThePreviousOne() {
        const QString dir = makeProject(QStringLiteral("student"), {1});
        const QString bad = QDir(tmp.path()).filePath(QStringLiteral("tronquée.avi"));
        QVERIFY(
            testmedia::writeFile(bad, testmedia::contents(studentVideo).left(2000))); // no frame

        ScriptedDialogs dialogs;
        PrincipalW w(QStringLiteral("/nonexistent/camera.avi"));
        QVERIFY(testwindow::openProjectAndVideo(w, dialogs, dir, studentVideo));
        dialogs.files.enqueue(bad);
        QTest::mouseClick(w.bOuvrirVideo, Qt::LeftButton);
        QCOMPARE(dialogs.shown.last().caption, QStringLiteral("KEL"));
        QVERIFY(dialogs.shown.last().text.contains(QStringLiteral("tronquée.avi")));
        QCOMPARE(w.studentVideoPath, studentVideo);
        QCOMPARE(w.studentPlayer->fichierVideo, studentVideo);
        QVERIFY(w.studentPlayer->lecteur->isPlaying());
    }
};

QTEST_MAIN(TestSynchronisedPlayback)
#include "test_synchronised_playback.moc"
