#include "playback/video_player.h"
#include "project/project_file.h"
#include "recording/opencv_widget.h"
#include "support/media.h"
#include "support/recording.h"

#include <QComboBox>

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
        kel::ProjectFile file(s.w.projectDir);
        file.writeAnnotationEntry(3, 0, 250);
        s.w.currentAnnotationNumber = 3;
        kel::VideoPlayer* player = s.w.annotationPlayer;
        player->load(video);
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

    // Annotations `files` in the project opened, the one numbered `deleted` shown, X clicked and
    // the question answered.
    void deletion_data() {
        QTest::addColumn<QList<int>>("files");
        QTest::addColumn<int>("deleted");
        QTest::addColumn<bool>("confirmed");
        QTest::addColumn<QList<int>>("remaining");
        // clang-format off
        QTest::newRow("2 of 1..3") << QList<int>{1, 2, 3} << 2 << true << QList<int>{1, 3};
        QTest::newRow("the last one") << QList<int>{1} << 1 << true << QList<int>{};
        QTest::newRow("Cancel") << QList<int>{1, 2} << 2 << false << QList<int>{1, 2};
        // clang-format on
    }
    void deletion() {
        QFETCH(QList<int>, files);
        QFETCH(int, deleted);
        QFETCH(bool, confirmed);
        QFETCH(QList<int>, remaining);
        testrec::Studio s(video, tmp);
        for (int n : files)
            QVERIFY(QFile::copy(video, s.file(n)));
        s.dialogs.directories.enqueue(s.w.projectDir);
        s.w.on_bOuvrirProjet_clicked();
        s.w.registerAnnotation(s.file(deleted));
        s.w.webcamView->hide();
        s.dialogs.questionAnswers.enqueue(confirmed);
        s.w.supprimerAnnotation();

        // The question, and no warning after it.
        QCOMPARE(s.dialogs.lastText(), "Etes-vous sûr de vouloir supprimer cette annotation ?");
        for (int n : files) {
            QCOMPARE(QFile::exists(s.file(n)), remaining.contains(n));
            const QString entry = QStringLiteral("Annotation n°%1").arg(n);
            QCOMPARE(s.w.comboAnnotations->findText(entry) >= 0, remaining.contains(n));
        }
        QCOMPARE(s.w.comboAnnotations->itemText(0) == "Aucune annotation", remaining.isEmpty());
        QCOMPARE(s.w.annotationCount, remaining.size());
        QCOMPARE(s.w.webcamView->isVisibleTo(&s.w), remaining.isEmpty());
    }
};

QTEST_MAIN(TestCutDelete)
#include "test_cut_delete.moc"
