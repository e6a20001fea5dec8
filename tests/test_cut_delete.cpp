#include "app/globals.h"
#include "app/principalw.h"
#include "playback/video_player.h"
#include "project/project_file.h"
#include "recording/opencv_widget.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

using kel::ProjectFile;

class TestCutDelete : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString video;
    int projects = 0;

    QString newProject() {
        const QString dir = tmp.filePath(QStringLiteral("Projet élève %1").arg(++projects));
        QDir().mkpath(dir);
        return dir;
    }

    // Annotation 3 of a fresh project, loaded in the annotation player and paused at 0.
    void loadAnnotation3(kel::PrincipalW& w) {
        w.projectDir = newProject();
        const QString path = QDir(w.projectDir).filePath(QStringLiteral("annotation3.avi"));
        QVERIFY(QFile::copy(video, path));
        QCOMPARE(ProjectFile(w.projectDir).writeAnnotationEntry(3, 0, 250),
                 ProjectFile::WriteResult::Written);
        w.currentAnnotationNumber = 3;
        w.currentAnnotationFile = std::make_unique<QFile>(path);
        w.annotationPlayer->setMuted(true);
        w.annotationPlayer->load(path);
        w.annotationPlayer->play();
        QTRY_VERIFY(w.annotationPlayer->totalTime() > 0);
        w.annotationPlayer->pause();
        QTRY_VERIFY(w.annotationPlayer->isPaused());
    }

    void pauseAt(kel::PrincipalW& w, int ms) {
        w.annotationPlayer->seek(ms);
        QTRY_COMPARE(w.annotationPlayer->currentTime(), ms);
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        video = tmp.filePath(QStringLiteral("annotation.avi"));
        QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 5));
    }

    // Cuts made one after the other on a paused annotation: what the teacher is told and what
    // the project file holds afterwards.
    void cuts_data() {
        QTest::addColumn<QStringList>("cuts"); // "start@ms" or "end@ms"
        QTest::addColumn<double>("cutStart");
        QTest::addColumn<double>("cutEnd");
        QTest::addColumn<QString>("lastConfirmation");

        const QString starts =
            QStringLiteral("L'annotation sera coupée et commencera au temps: \r\n");
        const QString ends =
            QStringLiteral("L'annotation sera coupée et se terminera au temps: \r\n");
        QTest::newRow("start at 2500")
            << QStringList{"start@2500"} << 2500.0 << 0.0 << starts + "00:00:02.500";
        QTest::newRow("second start replaces")
            << QStringList{"start@2500", "start@1200"} << 1200.0 << 0.0 << starts + "00:00:01.200";
        QTest::newRow("end keeps the start")
            << QStringList{"start@1200", "end@3000"} << 1200.0 << 3000.0 << ends + "00:00:03.000";
        QTest::newRow("end first, then start")
            << QStringList{"end@3000", "start@1000"} << 1000.0 << 3000.0 << starts + "00:00:01.000";
        QTest::newRow("cut at 0 stores nothing")
            << QStringList{"end@0"} << 0.0 << 0.0 << ends + "00:00:00.000";
    }
    void cuts() {
        QFETCH(QStringList, cuts);
        QFETCH(double, cutStart);
        QFETCH(double, cutEnd);
        QFETCH(QString, lastConfirmation);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(video);
        loadAnnotation3(w);
        for (const QString& cut : cuts) {
            pauseAt(w, cut.section('@', 1).toInt());
            if (cut.startsWith(QLatin1String("start")))
                w.couperDebut();
            else
                w.couperFin();
        }
        QCOMPARE(dialogs.count(QStringLiteral("plain")), cuts.size());
        QCOMPARE(dialogs.count(QStringLiteral("platform")), 0);
        QCOMPARE(dialogs.lastText(), lastConfirmation);
        const ProjectFile file(w.projectDir);
        QCOMPARE(file.readCutStart(3), cutStart);
        QCOMPARE(file.readCutEnd(3), cutEnd);
    }

    void cutRefusedUnlessPaused_data() {
        QTest::addColumn<bool>("start");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<QString>("caption");
        QTest::newRow("start, playing") << true << true << "Couper début annotation";
        QTest::newRow("end, playing") << false << true << "Couper fin annotation";
        QTest::newRow("start, stopped") << true << false << "Couper début annotation";
    }
    void cutRefusedUnlessPaused() {
        QFETCH(bool, start);
        QFETCH(bool, playing);
        QFETCH(QString, caption);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(video);
        loadAnnotation3(w);
        pauseAt(w, 2000);
        if (playing) {
            w.annotationPlayer->play();
            QTRY_VERIFY(w.annotationPlayer->isPlaying());
        } else {
            w.annotationPlayer->stop();
            QTRY_VERIFY(!w.annotationPlayer->isPaused());
        }
        start ? w.couperDebut() : w.couperFin();

        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown.last().caption, caption);
        QCOMPARE(dialogs.lastText(), QStringLiteral("La video doit être en pause"));
        QCOMPARE(dialogs.shown.last().icon, kel::Dialogs::Icon::Warning);
        QCOMPARE(ProjectFile(w.projectDir).readCutStart(3), 0.0);
        QCOMPARE(ProjectFile(w.projectDir).readCutEnd(3), 0.0);
    }

    void deletion_data() {
        QTest::addColumn<QList<int>>("files");
        QTest::addColumn<QStringList>("combo");
        QTest::addColumn<int>("current"); // index shown in the combo
        QTest::addColumn<int>("loaded");  // annotation in the player; 0: none
        QTest::addColumn<bool>("answer");
        QTest::addColumn<int>("times");    // clicks on X
        QTest::addColumn<bool>("blocked"); // the file cannot be removed
        QTest::addColumn<QList<int>>("remaining");
        QTest::addColumn<QStringList>("comboAfter");
        QTest::addColumn<int>("countAfter");
        QTest::addColumn<bool>("previewShown");
        QTest::addColumn<QString>("warning"); // part of the last warning; empty: none

        const QString a1 = QStringLiteral("Annotation n°1"), a2 = QStringLiteral("Annotation n°2"),
                      a3 = QStringLiteral("Annotation n°3"),
                      none = QStringLiteral("Aucune annotation");
        QTest::newRow("2 of 1, 2, 3")
            << QList<int>{1, 2, 3} << QStringList{a1, a2, a3} << 1 << 2 << true << 1 << false
            << QList<int>{1, 3} << QStringList{a1, a3} << 2 << false << QString();
        QTest::newRow("the last one")
            << QList<int>{1} << QStringList{a1} << 0 << 1 << true << 1 << false << QList<int>{}
            << QStringList{none} << 0 << true << QString();
        QTest::newRow("placeholder shown: no question")
            << QList<int>{1} << QStringList{none, a1} << 0 << 1 << true << 1 << false
            << QList<int>{1} << QStringList{none, a1} << 1 << false << QString();
        QTest::newRow("cancelled")
            << QList<int>{1, 2} << QStringList{a1, a2} << 1 << 2 << false << 1 << false
            << QList<int>{1, 2} << QStringList{a1, a2} << 2 << false << QString();
        QTest::newRow("cancelled, one entry")
            << QList<int>{1} << QStringList{a1} << 0 << 1 << false << 1 << false << QList<int>{1}
            << QStringList{none, a1} << 1 << true << QString();
        QTest::newRow("cannot be removed")
            << QList<int>{1, 2} << QStringList{a1, a2} << 1 << 2 << true << 1 << true
            << QList<int>{1, 2} << QStringList{a1, a2} << 2 << false << "n'a pas pu être supprimé";
        QTest::newRow("deleted twice")
            << QList<int>{1, 2, 3} << QStringList{a1, a2, a3} << 1 << 2 << true << 2 << false
            << QList<int>{1, 3} << QStringList{a1, a3} << 2 << false << "déjà été supprimée";
    }
    void deletion() {
        QFETCH(QList<int>, files);
        QFETCH(QStringList, combo);
        QFETCH(int, current);
        QFETCH(int, loaded);
        QFETCH(bool, answer);
        QFETCH(int, times);
        QFETCH(bool, blocked);
        QFETCH(QList<int>, remaining);
        QFETCH(QStringList, comboAfter);
        QFETCH(int, countAfter);
        QFETCH(bool, previewShown);
        QFETCH(QString, warning);

        ScriptedDialogs dialogs;
        kel::PrincipalW w(video);
        w.projectDir = newProject();
        const QDir dir(w.projectDir);
        auto fileOf = [&](int n) {
            return dir.filePath(QStringLiteral("annotation%1.avi").arg(n));
        };
        for (int n : files) {
            if (blocked && n == loaded) { // a folder with content: QFile::remove refuses it
                QVERIFY(dir.mkpath(fileOf(n)));
                QFile(fileOf(n) + QStringLiteral("/inside")).open(QIODevice::WriteOnly);
            } else {
                QVERIFY(QFile::copy(video, fileOf(n)));
            }
        }
        w.annotationCount = int(files.size());
        w.comboAnnotations->clear();
        w.comboAnnotations->addItems(combo);
        w.comboAnnotations->setCurrentIndex(current);
        if (loaded)
            w.currentAnnotationFile = std::make_unique<QFile>(fileOf(loaded));
        w.webcamView->hide();
        w.annotationPlayer->show();

        for (int i = 0; i < times; ++i) {
            dialogs.questionAnswers.enqueue(answer);
            w.supprimerAnnotation();
        }

        const bool asked = combo.at(current) != QLatin1String("Aucune annotation");
        if (asked) {
            const auto question = dialogs.shown.first();
            QCOMPARE(question.caption, QStringLiteral("Suppression annotation"));
            QCOMPARE(question.text,
                     QStringLiteral("Etes-vous sûr de vouloir supprimer cette annotation ?"));
            QCOMPARE(question.icon, kel::Dialogs::Icon::Question);
        } else {
            QVERIFY(dialogs.shown.isEmpty());
        }
        QList<int> present;
        for (int n : files)
            if (QFileInfo::exists(fileOf(n)))
                present << n;
        QCOMPARE(present, remaining);
        QStringList items;
        for (int i = 0; i < w.comboAnnotations->count(); ++i)
            items << w.comboAnnotations->itemText(i);
        QCOMPARE(items, comboAfter);
        QCOMPARE(w.annotationCount, countAfter);
        QCOMPARE(w.webcamView->isVisibleTo(&w), previewShown);
        QCOMPARE(w.annotationPlayer->isVisibleTo(&w), !previewShown);
        if (warning.isEmpty()) {
            for (const auto& shown : dialogs.shown)
                QVERIFY2(shown.icon != kel::Dialogs::Icon::Warning, qPrintable(shown.text));
        } else {
            QVERIFY2(dialogs.lastText().contains(warning), qPrintable(dialogs.lastText()));
            QCOMPARE(dialogs.shown.last().caption, QStringLiteral("Suppression annotation"));
        }
    }
};

QTEST_MAIN(TestCutDelete)
#include "test_cut_delete.moc"
