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

    // X deletes the annotation the list shows, or the one that played last, after a question that
    // names it; once deleted, nothing is left to play, cut or delete, and the preview runs again.
    void deletion() {
        testrec::Studio s(video, tmp);
        QList<int> remaining{1, 2, 3, 4};
        for (int n : remaining)
            QVERIFY(QFile::copy(video, s.file(n)));
        s.dialogs.directories.enqueue(s.w.session->dir());
        s.w.on_bOuvrirProjet_clicked();
        QComboBox* list = s.w.comboAnnotations;
        // `shown` chosen in the list, then `played` started by itself (0: none); X clicked and the
        // question answered, `underBox` started while it is open.
        const auto pressX = [&](int shown, int played, bool confirmed, int underBox = 0) {
            if (shown) {
                list->setCurrentIndex(list->findData(shown));
                emit list->activated(list->currentIndex());
            }
            if (played)
                s.w.playAnnotationFile(played);
            const int deleted = played ? played : shown;
            QCOMPARE(list->currentData().toInt(), deleted);
            const auto boxes = s.dialogs.shown.size();
            s.dialogs.questionAnswers.clear();
            s.dialogs.questionAnswers.enqueue(confirmed);
            if (underBox)
                s.dialogs.underQuestion = [&] { s.w.playAnnotationFile(underBox); };
            s.w.bSupprimerAnnotation->click();
            QCOMPARE(s.dialogs.shown.size(), boxes + (deleted ? 1 : 0)); // and no warning
            if (deleted)
                QCOMPARE(s.dialogs.lastText(),
                         QStringLiteral("Etes-vous sûr de vouloir supprimer l'annotation n°%1 ?")
                             .arg(deleted));
            const bool gone = deleted && confirmed;
            if (gone)
                remaining.removeOne(deleted);
            for (int n : {1, 2, 3, 4}) {
                QCOMPARE(QFile::exists(s.file(n)), remaining.contains(n));
                QCOMPARE(list->findData(n) >= 0, remaining.contains(n));
            }
            QCOMPARE(list->itemText(0) == "Aucune annotation", remaining.isEmpty());
            QCOMPARE(s.w.session->count(), remaining.size());
            // What is left loaded: an annotation started under the question keeps its player.
            const int left = underBox ? underBox : gone ? 0 : deleted;
            QCOMPARE(s.w.annotationPlayer->source().isEmpty(), left == 0);
            QCOMPARE(s.w.bSupprimerAnnotation->isEnabled(), left != 0);
            QCOMPARE(s.w.bCouperDebut->isEnabled(), left != 0);
            QCOMPARE(s.w.webcamTimerId != 0, left == 0);
            QCOMPARE(s.w.webcamView->isVisibleTo(&s.w), left == 0);
            if (left)
                QCOMPARE(list->currentData().toInt(), left);
        };
        pressX(0, 0, true);    // none shown
        pressX(2, 0, false);   // cancelled
        pressX(2, 3, true);    // the one that played last
        pressX(1, 0, true, 2); // 2 starts under the question
        pressX(2, 0, true);
        pressX(4, 0, true); // the last one
    }
};

QTEST_MAIN(TestCutDelete)
#include "test_cut_delete.moc"
