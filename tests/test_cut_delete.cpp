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

    // Cuts of annotation 3 one after the other: "start@ms" or "end@ms" paused there, or made
    // while the annotation is "playing".
    void cuts_data() {
        QTest::addColumn<QStringList>("cuts");
        QTest::addColumn<QList<double>>("stored"); // cut start, cut end
        QTest::addColumn<QString>("told");         // the last message
        // clang-format off
        QTest::newRow("start") << QStringList{"start@1200"} << QList<double>{1200, 0} << "L'annotation sera coupée et commencera au temps: \r\n00:00:01.200";
        QTest::newRow("end keeps the start") << QStringList{"start@1200", "end@3000"} << QList<double>{1200, 3000} << "L'annotation sera coupée et se terminera au temps: \r\n00:00:03.000";
        QTest::newRow("start refused while playing") << QStringList{"start@playing"} << QList<double>{0, 0} << "La video doit être en pause";
        QTest::newRow("end refused while playing") << QStringList{"start@1200", "end@playing"} << QList<double>{1200, 0} << "La video doit être en pause";
        // clang-format on
    }
    void cuts() {
        QFETCH(QStringList, cuts);
        QFETCH(QList<double>, stored);
        QFETCH(QString, told);
        testrec::Studio s(video, tmp);
        kel::ProjectFile file(s.w.session->dir());
        file.writeAnnotationEntry(3, 0, 250);
        QVERIFY(QFile::copy(video, s.file(3)));
        s.w.session->open(s.w.session->dir());
        s.w.playAnnotationFile(3);
        kel::VideoPlayer* player = s.w.annotationPlayer;
        player->pause();
        for (const QString& cut : cuts) {
            const QString at = cut.section('@', 1);
            at == "playing" ? player->play() : player->seek(at.toInt());
            QTRY_COMPARE(player->isPlaying(), at == "playing");
            cut.startsWith(QLatin1String("start")) ? s.w.couperDebut() : s.w.couperFin();
        }
        QCOMPARE(s.dialogs.lastText(), told);
        QCOMPARE((QList<double>{file.readCutStart(3), file.readCutEnd(3)}), stored);
    }

    // Annotations `files` in the project opened; `shown` chosen in the list, then `played` started
    // by itself; X clicked and the question answered.
    void deletion_data() {
        QTest::addColumn<QList<int>>("files");
        QTest::addColumn<int>("shown");  // 0: none
        QTest::addColumn<int>("played"); // 0: none
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QList<int>>("remaining");
        QTest::addColumn<int>("underBox"); // started while the question is open
        // clang-format off
        QTest::newRow("2 of 1..3") << QList<int>{1, 2, 3} << 2 << 0 << true << QList<int>{1, 3} << 0;
        QTest::newRow("the one that played last") << QList<int>{1, 2, 3} << 2 << 3 << true << QList<int>{1, 2} << 0;
        QTest::newRow("the last one") << QList<int>{1} << 1 << 0 << true << QList<int>{} << 0;
        QTest::newRow("Cancel") << QList<int>{1, 2} << 2 << 0 << false << QList<int>{1, 2} << 0;
        QTest::newRow("none shown") << QList<int>{1, 2} << 0 << 0 << true << QList<int>{1, 2} << 0;
        QTest::newRow("another starts under it") << QList<int>{1, 2, 3} << 2 << 0 << true << QList<int>{1, 3} << 3;
        // clang-format on
    }
    void deletion() {
        QFETCH(QList<int>, files);
        QFETCH(int, shown);
        QFETCH(int, played);
        QFETCH(bool, confirmed);
        QFETCH(QList<int>, remaining);
        QFETCH(int, underBox);
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
        if (underBox)
            s.dialogs.underQuestion = [&] { s.w.playAnnotationFile(underBox); };
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
        // Once deleted, nothing is left to play, cut or delete, and the preview runs again; an
        // annotation started under the question stays.
        const int left = underBox ? underBox : confirmed ? 0 : deleted;
        QCOMPARE(s.w.annotationPlayer->source().isEmpty(), left == 0);
        QCOMPARE(s.w.bSupprimerAnnotation->isEnabled(), left != 0);
        QCOMPARE(s.w.bCouperDebut->isEnabled(), left != 0);
        QCOMPARE(s.w.webcamTimerId != 0, left == 0);
        QCOMPARE(s.w.webcamView->isVisibleTo(&s.w), left == 0);
        if (left)
            QCOMPARE(list->currentData().toInt(), left);
    }
};

QTEST_MAIN(TestCutDelete)
#include "test_cut_delete.moc"
