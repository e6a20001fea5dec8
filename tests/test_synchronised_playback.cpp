#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/synchronised_playback.h"
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

// A key pressed with the student's video paused at `from`; where it is afterwards (-1: playing
// from the start).
struct Key {
    int key, modifiers, from, expected;
};
Q_DECLARE_METATYPE(Key)

// The student video and its annotations played by the real players, headless, in one window.
class TestSynchronisedPlayback : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString studentVideo, shortClip;
    ScriptedDialogs dialogs;
    PrincipalW* w = nullptr;
    kel::MyVideoPlayer* sp = nullptr;

    kel::VideoPlayer* annotationPlayer() const {
        return testwindow::part<kel::VideoPlayer>(*w, "annotationPlayer");
    }
    QComboBox* combo() const { return testwindow::part<QComboBox>(*w, "comboAnnotations"); }

    void pauseAt(int ms) {
        sp->lecteur->pause();
        sp->lecteur->seek(ms);
        QTRY_COMPARE(sp->lecteur->currentTime(), ms);
    }

    QString makeProject(const QString& name, const QList<int>& numbers) {
        const QString dir = QDir(tmp.path()).filePath(name);
        QDir().mkpath(dir);
        for (int n : numbers)
            QFile::copy(shortClip, QDir(dir).filePath(ProjectFile::annotationFileName(n)));
        return dir;
    }

    // The project that the first test leaves, whatever ran before: annotation 1 at 1 s, 2
    // (pausing) at 3 s, over the 6-second video, both already played.
    bool playedProjectOpen() {
        if (QFileInfo(w->session()->dir()).fileName() == QStringLiteral("touches"))
            return true;
        const QString dir = makeProject(QStringLiteral("touches"), {1, 2});
        ProjectFile file(dir);
        if (file.writeAnnotationEntry(1, 0, 25) != ProjectFile::WriteResult::Written ||
            file.writeAnnotationEntry(2, 1, 75) != ProjectFile::WriteResult::Written ||
            !testwindow::openProjectAndVideo(*w, dialogs, dir, studentVideo))
            return false;
        w->synchronisedPlayback()->markPlayed(1);
        w->synchronisedPlayback()->markPlayed(2);
        return true;
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        testwindow::keepSettingsIn(tmp.filePath(QStringLiteral("config")));
        studentVideo = QDir(tmp.path()).filePath(QStringLiteral("élève.avi"));
        QVERIFY(testmedia::makeVideo(studentVideo, QStringLiteral("testsrc"), 6));
        shortClip = QDir(tmp.path()).filePath(QStringLiteral("clip.avi"));
        QVERIFY(testmedia::makeVideo(shortClip, QStringLiteral("color=c=red"), 1, 25,
                                     QStringLiteral("160x120")));
        w = new PrincipalW(QStringLiteral("/nonexistent/camera.avi"));
        sp = w->studentPlayer();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
    }
    void cleanupTestCase() { delete w; }

    // Annotation 1 at second 1 (student keeps playing), annotation 2 at second 3 made while the
    // student video was paused: it pauses the student video, which resumes when it ends. Then both
    // reviewed as the teacher would.
    void annotationsStartAtTheirSecond() {
        const QString dir = makeProject(QStringLiteral("projet d'essai é"), {1, 2});
        ProjectFile file(dir);
        QCOMPARE(file.writeAnnotationEntry(1, 0, 25), ProjectFile::WriteResult::Written);
        QCOMPARE(file.writeAnnotationEntry(2, 1, 75), ProjectFile::WriteResult::Written);

        QList<std::pair<int, int>> starts; // annotation, student's ms
        QObject scope;                     // the connection ends with this test
        connect(annotationPlayer()->mediaPlayer(), &QMediaPlayer::sourceChanged, &scope,
                [&](const QUrl& url) {
                    if (!url.isEmpty())
                        starts.append({ProjectFile::annotationNumber(url.fileName()),
                                       sp->lecteur->currentTime()});
                });
        QVERIFY(testwindow::openProjectAndVideo(*w, dialogs, dir, studentVideo));

        QTRY_COMPARE_WITH_TIMEOUT(starts.size(), 1, 4000);
        QCOMPARE(starts[0].first, 1);
        QVERIFY2(starts[0].second >= 1000 && starts[0].second < 1400,
                 qPrintable(QString::number(starts[0].second)));
        QVERIFY(annotationPlayer()->isVisible());
        // The list shows the annotation that plays.
        QCOMPARE(combo()->currentData().toInt(), 1);
        // Both videos play at once.
        QTRY_VERIFY_WITH_TIMEOUT(annotationPlayer()->currentTime() > 300, 2000);
        QVERIFY(sp->lecteur->isPlaying());

        QTRY_COMPARE_WITH_TIMEOUT(starts.size(), 2, 5000);
        QCOMPARE(starts[1].first, 2);
        QVERIFY2(starts[1].second >= 3000 && starts[1].second < 3400,
                 qPrintable(QString::number(starts[1].second)));
        QVERIFY(sp->lecteur->isPaused());
        const int pausedAt = sp->lecteur->currentTime();

        // The end of the annotation resumes the student video where it stood.
        QTRY_VERIFY_WITH_TIMEOUT(sp->lecteur->isPlaying(), 4000);
        QCOMPARE(sp->bLecture->text(), QStringLiteral("||"));
        QVERIFY(sp->lecteur->currentTime() >= pausedAt);
        QVERIFY(!annotationPlayer()->isVisible());
        QVERIFY(w->synchronisedPlayback()->hasPlayed(2));

        // Each played annotation has its duration written once.
        QCOMPARE(testmedia::contents(file.path()).count("<Duree "), 2);

        // Reviewed from the list, an annotation leaves the student's video as the teacher left it,
        // paused then ended; N and P, after the end too, show the mark's picture and time.
        kel::VideoPlayer* student = sp->lecteur;
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
            QCOMPARE(sp->bLecture->text(), QStringLiteral(">"));
            const int before = student->currentTime();
            combo()->setCurrentIndex(0);
            emit combo()->activated(0);
            QTRY_VERIFY(annotationPlayer()->isPlaying());
            QTRY_VERIFY_WITH_TIMEOUT(annotationPlayer()->isHidden(), 5000);
            QTest::qWait(300);
            QVERIFY(!student->isPlaying());
            QCOMPARE(student->currentTime(), before);
            QTest::keyClick(w, ended ? Qt::Key_P : Qt::Key_N);
            QTRY_VERIFY(student->isPaused() && student->currentTime() == 3000);
            QCOMPARE(sp->labelTemps->text(), QStringLiteral("00:00:03.000 / 00:00:06.000"));
        }
    }

    // Keys on a project with annotation 1 at 1 s, 2 (pausing) at 3 s, over a 6-second video.
    // Two comments made in the same second both play, one after the other, in the list's order,
    // the student's video paused for the whole second by the one that pauses.
    void twoInOneSecondBothPlay() {
        const QString dir = makeProject(QStringLiteral("même seconde"), {3, 4});
        ProjectFile file(dir);
        QCOMPARE(file.writeAnnotationEntry(3, 0, 25), ProjectFile::WriteResult::Written);
        QCOMPARE(file.writeAnnotationEntry(4, 1, 25), ProjectFile::WriteResult::Written);
        QStringList seen; // annotation:student paused
        QObject scope;
        connect(annotationPlayer()->mediaPlayer(), &QMediaPlayer::sourceChanged, &scope,
                [&](const QUrl& url) {
                    if (!url.isEmpty())
                        seen << QStringLiteral("%1:%2")
                                    .arg(ProjectFile::annotationNumber(url.fileName()))
                                    .arg(sp->lecteur->isPaused());
                });
        QVERIFY(testwindow::openProjectAndVideo(*w, dialogs, dir, studentVideo));
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 2, 8000);
        QCOMPARE(seen, (QStringList{"3:0", "4:1"}));
        QTRY_VERIFY_WITH_TIMEOUT(sp->lecteur->isPlaying(), 4000);
        QVERIFY(w->synchronisedPlayback()->hasPlayed(3) && w->synchronisedPlayback()->hasPlayed(4));
    }

    void keys_data() {
        QTest::addColumn<Key>("k");
        // clang-format off
        QTest::newRow("Right: next frame")        << Key{Qt::Key_Right, 0, 1000, 1040};
        QTest::newRow("Left: previous frame")     << Key{Qt::Key_Left, 0, 1000, 960};
        QTest::newRow("Shift+Left: a tenth back") << Key{Qt::Key_Left, Qt::ShiftModifier, 3000, 2400};
        QTest::newRow("Shift+Right: a tenth on")  << Key{Qt::Key_Right, Qt::ShiftModifier, 1000, 1600};
        QTest::newRow("End: to the end")          << Key{Qt::Key_End, 0, 1000, 6000};
        QTest::newRow("P skips one just passed")  << Key{Qt::Key_P, 0, 3400, 1000};
        QTest::newRow("Home: play from the start") << Key{Qt::Key_Home, 0, 3000, -1};
        // clang-format on
    }
    void keys() {
        QFETCH(Key, k);
        QVERIFY(playedProjectOpen());
        pauseAt(k.from);
        QTest::keyClick(w, Qt::Key(k.key), Qt::KeyboardModifiers(k.modifiers));
        if (k.expected >= 0) {
            QTRY_COMPARE(sp->lecteur->currentTime(), k.expected);
        } else {
            QTRY_VERIFY(sp->lecteur->isPlaying());
            QVERIFY(sp->lecteur->currentTime() < 1000);
        }
    }

    // Space toggles once per press although the click reaches the toggle twice; the marks stand
    // at the annotations, a pausing one told apart.
    void spaceTogglesAndMarks() {
        QVERIFY(playedProjectOpen());
        pauseAt(2000);
        QTest::keyClick(w, Qt::Key_Space);
        QTRY_VERIFY(sp->lecteur->isPlaying());
        QCOMPARE(sp->bLecture->text(), QStringLiteral("||"));
        QTest::qWait(30);
        QTest::keyClick(w, Qt::Key_Space);
        QTRY_VERIFY(sp->lecteur->isPaused());
        QCOMPARE(sp->bLecture->text(), QStringLiteral(">"));
        kel::SeekSlider* slider = sp->seekSlider;
        QCOMPARE(slider->marks(),
                 (QList<kel::SeekSlider::Mark>{{1000, false, 1}, {3000, true, 2}}));
    }

    // At twice the speed, annotation 1 still starts within its second.
    void speedKeepsTheTriggerRule() {
        QVERIFY(playedProjectOpen());
        emit sp->vitesse->activated(5);
        QCOMPARE(sp->lecteur->playbackRate(), 2.0);
        int startedAt = -1;
        QObject scope;
        connect(annotationPlayer()->mediaPlayer(), &QMediaPlayer::sourceChanged, &scope,
                [&](const QUrl& url) {
                    if (url.fileName() == QStringLiteral("annotation1.avi"))
                        startedAt = sp->lecteur->currentTime();
                });
        pauseAt(200);
        QTest::mouseClick(sp->bDebut, Qt::LeftButton); // re-arms every annotation
        QTRY_VERIFY_WITH_TIMEOUT(startedAt >= 0, 5000);
        QVERIFY2(startedAt >= 1000 && startedAt < 1500, qPrintable(QString::number(startedAt)));
        QCOMPARE(sp->lecteur->playbackRate(), 2.0);
        emit sp->vitesse->activated(3);
        QCOMPARE(sp->lecteur->playbackRate(), 1.0);
    }

    // An imported file takes the number after the largest; what cannot be played is refused.
    void import_data() {
        QTest::addColumn<QString>("chosen"); // "clip", "text", "missing" or "" (cancelled)
        QTest::addColumn<QString>("box");    // kind of box shown, if any
        // clang-format off
        QTest::newRow("largest 4 gives 5") << "clip" << "";
        QTest::newRow("cancelled") << "" << "";
        QTest::newRow("not a video") << "text" << "platform";
        QTest::newRow("unreadable") << "missing" << "information";
        // clang-format on
    }
    void import() {
        QFETCH(QString, chosen);
        QFETCH(QString, box);
        const bool imported = chosen == "clip";
        const QString dir =
            makeProject(QStringLiteral("import-") + QTest::currentDataTag(), {1, 4});
        ProjectFile file(dir);
        QCOMPARE(file.writeAnnotationEntry(1, 0, 50), ProjectFile::WriteResult::Written);
        const QString path = chosen == "clip"   ? shortClip
                             : chosen.isEmpty() ? QString()
                                                : QDir(tmp.path()).filePath(chosen + ".avi");
        QVERIFY(chosen != "text" || testmedia::writeFile(path, "ceci n'est pas une video\n"));

        QVERIFY(testwindow::openProjectAndVideo(*w, dialogs, dir, studentVideo));
        sp->lecteur->pause();
        const int boxesBefore = dialogs.shown.size();
        dialogs.files.enqueue(path);
        QTest::mouseClick(testwindow::part(*w, "bOuvrirAnnotation"), Qt::LeftButton);

        QCOMPARE(dialogs.fileDialogDirs.last(), dir);
        QCOMPARE(QFile::exists(dir + "/annotation5.avi"), imported);
        QCOMPARE(file.loadAnnotationSchedule().mid(0, 3),
                 (imported ? QList<int>{1, 50, 5} : QList<int>{1, 50}));
        const QString item = combo()->currentText();
        QVERIFY2(!imported || (item.startsWith("n°5 · ") && item.endsWith(" · pause")),
                 qPrintable(item));
        QCOMPARE(dialogs.shown.size(), boxesBefore + (box.isEmpty() ? 0 : 1));
        QVERIFY(box.isEmpty() || dialogs.shown.last().kind == box);
    }
};

QTEST_MAIN(TestSynchronisedPlayback)
#include "test_synchronised_playback.moc"
