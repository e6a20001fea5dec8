#include "playback/video_player.h"
#include "project/project_file.h"
#include "project/project_session.h"
#include "recording/opencv_widget.h"
#include "support/media.h"
#include "support/recording.h"

#include <QComboBox>
#include <QPushButton>

class TestCutDelete : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString video; // an annotation, and the camera

private slots:
    void initTestCase() {
        video = tmp.filePath(QStringLiteral("annotation.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 5));
    }

    // Cuts of the annotation loaded, one after the other: each told and written where the paused
    // annotation stands, refused while it plays.
    void cuts() {
        testrec::Studio s(video, tmp);
        kel::ProjectFile file(s.w.session->dir());
        file.writeAnnotationEntry(3, 0, 250);
        QVERIFY(QFile::copy(video, s.file(3)));
        s.w.session->open(s.w.session->dir());
        s.w.playAnnotationFile(3);
        kel::VideoPlayer* player = s.w.annotationPlayer;
        const auto cut = [&](bool start, int at) { // at < 0: while it plays
            at < 0 ? player->play() : (player->pause(), player->seek(at));
            if (!QTest::qWaitFor([&] { return player->isPlaying() == (at < 0); }))
                return QStringLiteral("the player did not follow");
            start ? s.w.couperDebut() : s.w.couperFin();
            return s.dialogs.lastText() +
                   QStringLiteral(" | %1 %2").arg(file.readCutStart(3)).arg(file.readCutEnd(3));
        };
        const QString refused = QStringLiteral("La video doit être en pause | %1 0");
        QCOMPARE(cut(true, -1), refused.arg(0));
        QCOMPARE(cut(true, 1200), QStringLiteral("L'annotation sera coupée et commencera au temps: "
                                                 "\r\n00:00:01.200 | 1200 0"));
        QCOMPARE(cut(false, -1), refused.arg(1200));
        QCOMPARE(cut(false, 3000), QStringLiteral("L'annotation sera coupée et se terminera au "
                                                  "temps: \r\n00:00:03.000 | 1200 3000"));
    }

    // Annotations `files` in the project opened; `shown` chosen in the list, then `played` started
    // by itself; X clicked and the question answered.
    void deletion_data() {
        QTest::addColumn<QList<int>>("files");
        QTest::addColumn<int>("shown");  // 0: none
        QTest::addColumn<int>("played"); // 0: none
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QList<int>>("remaining");
        // clang-format off
        QTest::newRow("2 of 1..3") << QList<int>{1, 2, 3} << 2 << 0 << true << QList<int>{1, 3};
        QTest::newRow("the one that played last") << QList<int>{1, 2, 3} << 2 << 3 << true << QList<int>{1, 2};
        QTest::newRow("the last one") << QList<int>{1} << 1 << 0 << true << QList<int>{};
        QTest::newRow("Cancel") << QList<int>{1, 2} << 2 << 0 << false << QList<int>{1, 2};
        QTest::newRow("none shown") << QList<int>{1, 2} << 0 << 0 << true << QList<int>{1, 2};
        // clang-format on
    }
    void deletion() {
        QFETCH(QList<int>, files);
        QFETCH(int, shown);
        QFETCH(int, played);
        QFETCH(bool, confirmed);
        QFETCH(QList<int>, remaining);
        testrec::Studio s(video, tmp);
        for (int n : files)
            QVERIFY(QFile::copy(video, s.file(n)));
        s.dialogs.directories.enqueue(s.w.session->dir());
        s.w.on_bOuvrirProjet_clicked();
        QComboBox* list = s.w.comboAnnotations;
        if (shown) {
            list->setCurrentIndex(list->findData(shown));
            emit list->activated(list->currentIndex());
        }
        if (played)
            s.w.playAnnotationFile(played);
        const int deleted = played ? played : shown;
        QCOMPARE(list->currentData().toInt(), deleted);
        const auto boxes = s.dialogs.shown.size();
        s.dialogs.questionAnswers.enqueue(confirmed);
        s.w.bSupprimerAnnotation->click();

        // The question names the annotation, and no warning follows it.
        QCOMPARE(s.dialogs.shown.size(), boxes + (deleted ? 1 : 0));
        if (deleted)
            QCOMPARE(s.dialogs.lastText(),
                     QStringLiteral("Etes-vous sûr de vouloir supprimer l'annotation n°%1 ?")
                         .arg(deleted));
        for (int n : files) {
            QCOMPARE(QFile::exists(s.file(n)), remaining.contains(n));
            QCOMPARE(list->findData(n) >= 0, remaining.contains(n));
        }
        QCOMPARE(list->itemText(0) == "Aucune annotation", remaining.isEmpty());
        QCOMPARE(s.w.session->count(), remaining.size());
        // Once deleted, nothing is left to play, cut or delete, and the preview runs again.
        const bool gone = deleted && confirmed;
        QCOMPARE(s.w.annotationPlayer->source().isEmpty(), gone || !deleted);
        QCOMPARE(s.w.bSupprimerAnnotation->isEnabled(), !gone && deleted);
        QCOMPARE(s.w.bCouperDebut->isEnabled(), !gone && deleted);
        QCOMPARE(s.w.webcamTimerId != 0, gone || !deleted);
        QCOMPARE(s.w.webcamView->isVisibleTo(&s.w), gone || !deleted);
    }
};

QTEST_MAIN(TestCutDelete)
#include "test_cut_delete.moc"
