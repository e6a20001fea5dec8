#include "app/globals.h"
#include "app/principalw.h"
#include "export/export_window.h"
#include "export/montage_window.h"
#include "support/montage_media.h"
#include "support/scripted_dialogs.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using kel::Export;
using kel::PrincipalW;

namespace {
const QString kRefusedTranscoding = QStringLiteral(
    "Traitement annotation(s) en cours. Veuillez relancer l'export dans quelques secondes.");
const QString kNoVideo = QStringLiteral("Veuillez ouvrir la video à annoter.");
const QString kNoAnnotation =
    QStringLiteral("Export annulé, aucune annotation n'est présente dans votre projet.");
} // namespace

class TestExportWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_projects = 0;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    QString project(bool withAnnotation, bool undecodable = false) {
        const QString dir = path(QStringLiteral("projet %1").arg(++m_projects));
        QDir().mkpath(dir);
        if (withAnnotation) {
            const QString file = QDir(dir).filePath("annotation1.avi");
            if (undecodable) {
                QFile f(file);
                f.open(QIODevice::WriteOnly);
                f.write(QByteArray(10000, 'x'));
            } else {
                QFile::copy(path("red.avi"), file);
            }
        }
        montagemedia::writeProject(dir, {{1, 25}});
        return dir;
    }

    // A main window with a camera fed from a file, a student's video and a project.
    PrincipalW* window(const QString& dir, int annotations = 1) {
        delete kel::exportWindow;
        kel::exportWindow = nullptr;
        auto* w = new PrincipalW(path("camera.avi"));
        w->studentVideoPath = path("student.avi");
        w->projectDir = dir;
        w->annotationCount = annotations;
        return w;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY(testmedia::makeVideo(path("camera.avi"), "testsrc", 2, 25, "160x120"));
        QVERIFY(montagemedia::makeStudent(path("student.avi"), 4));
        QVERIFY(montagemedia::makeAnnotation(path("red.avi"), "red"));
    }

    void settingsWindow() {
        Export e(project(true), path("student.avi"));
        QCOMPARE(e.windowTitle(), QStringLiteral("Paramètres d'exportation"));
        QCOMPARE(e.size(), QSize(335, 556));
        QVERIFY(e.isVisible());
        QVERIFY(!e.rbSansPerte->isEnabled());
        QCOMPARE(e.rbMoyenneResolution->text(), QStringLiteral("Moyenne résolution"));
        QCOMPARE(e.bLancerExportation->text(), QStringLiteral("Lancer l'exportation"));
        QCOMPARE(e.annotationSchedule, (QList<int>{1, 25}));
        // The radio buttons exclude each other.
        e.rbGrandeResolution->setChecked(true);
        e.rbFaibleResolution->setChecked(true);
        QVERIFY(!e.rbGrandeResolution->isChecked());
    }

    void applyResolutionChoice_data() {
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QList<int>>("moves");
        QTest::addColumn<QList<int>>("expected"); // frame w, h, inset top, w, h, caption w, h, px
        QTest::newRow("grande, untouched")
            << "grande" << QList<int>{} << QList<int>{640, 480, 330, 170, 150, 75, 25, 18};
        QTest::newRow("grande, 40 then 10")
            << "grande" << QList<int>{40, 10} << QList<int>{640, 480, 320, 180, 160, 75, 25, 18};
        QTest::newRow("moyenne, untouched")
            << "moyenne" << QList<int>{} << QList<int>{400, 300, 206, 106, 94, 57, 16, 14};
        QTest::newRow("moyenne, moved back to 0")
            << "moyenne" << QList<int>{5, 0} << QList<int>{400, 300, 206, 106, 93, 57, 16, 14};
        QTest::newRow("moyenne, 99")
            << "moyenne" << QList<int>{99} << QList<int>{400, 300, 144, 168, 155, 57, 16, 14};
        QTest::newRow("faible, untouched")
            << "faible" << QList<int>{} << QList<int>{320, 240, 165, 85, 75, 42, 13, 10};
        QTest::newRow("faible, 99")
            << "faible" << QList<int>{99} << QList<int>{320, 240, 115, 134, 124, 42, 13, 10};
        QTest::newRow("none, slider ignored")
            << "" << QList<int>{40} << QList<int>{400, 300, 206, 106, 94, 57, 16, 14};
    }

    void applyResolutionChoice() {
        QFETCH(QString, resolution);
        QFETCH(QList<int>, moves);
        QFETCH(QList<int>, expected);
        Export e(QString(), path("student.avi"));
        for (int v : moves)
            e.sliderTaille->setValue(v);
        if (resolution == "grande")
            e.rbGrandeResolution->setChecked(true);
        else if (resolution == "moyenne")
            e.rbMoyenneResolution->setChecked(true);
        else if (resolution == "faible")
            e.rbFaibleResolution->setChecked(true);
        e.applyResolutionChoice();
        const QList<int> got{e.frameWidth,  e.frameHeight,  e.insetTop,      e.insetWidth,
                             e.insetHeight, e.captionWidth, e.captionHeight, e.captionFontPx};
        QCOMPARE(got, expected);
        e.applyResolutionChoice(); // a second launch gives the same sizes
        QCOMPARE(e.insetTop, expected[2]);
        if (moves == QList<int>{40, 10})
            QCOMPARE(e.previewAnnotation->geometry(), QRect(30, 290, 125, 121));
    }

    void exporterRefusals_data() {
        QTest::addColumn<bool>("video");
        QTest::addColumn<int>("annotations");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("encoderRunning");
        QTest::addColumn<QString>("message"); // empty: the export window opens
        QTest::newRow("no student's video") << false << 1 << false << false << kNoVideo;
        QTest::newRow("transcoding pending") << true << 1 << true << false << kRefusedTranscoding;
        QTest::newRow("encoder running") << true << 1 << false << true << kRefusedTranscoding;
        QTest::newRow("recorded, transcoding over") << true << 1 << false << false << QString();
        QTest::newRow("no annotation") << true << 0 << false << false << kNoAnnotation;
    }

    void exporterRefusals() {
        QFETCH(bool, video);
        QFETCH(int, annotations);
        QFETCH(bool, pending);
        QFETCH(bool, encoderRunning);
        QFETCH(QString, message);
        ScriptedDialogs dialogs;
        std::unique_ptr<PrincipalW> w(window(project(true), annotations));
        if (!video)
            w->studentVideoPath.clear();
        w->annotationRecorded = true;
        w->transcodeFinished = false;
        w->transcodePending = pending;
        QProcess sleeper;
        if (encoderRunning) {
            // Stands for a transcoding in progress.
            w->encoderProcess->setProgram("sleep");
            w->encoderProcess->setArguments({"10"});
            w->encoderProcess->start();
            QVERIFY(w->encoderProcess->waitForStarted());
        }
        const int preview = w->webcamTimerId;
        w->exporter();
        if (encoderRunning) {
            w->encoderProcess->kill();
            w->encoderProcess->waitForFinished();
        }
        if (message.isEmpty()) {
            QCOMPARE(dialogs.shown.size(), 0);
            QVERIFY(kel::exportWindow && kel::exportWindow->isVisible());
            QVERIFY(w->exportLaunched);
            QVERIFY(w->progressTimer->isActive());
            QCOMPARE(w->webcamTimerId, 0);
            QCOMPARE(w->progressCount, 1);
        } else {
            QCOMPARE(dialogs.lastText(), message);
            QCOMPARE(dialogs.shown.last().kind, QStringLiteral("plain"));
            QVERIFY(!kel::exportWindow);
            QVERIFY(!w->exportLaunched);
            QVERIFY(!w->progressTimer->isActive());
            QCOMPARE(w->webcamTimerId, preview);
        }
    }

    void cancelledExportLeavesTheBarStill() {
        ScriptedDialogs dialogs;
        std::unique_ptr<PrincipalW> w(window(project(true)));
        w->exporter();
        kel::exportWindow->annuler();
        QVERIFY(!kel::exportWindow->isVisible());
        QVERIFY(!kel::exportRunning);
        w->timerProgressBar();
        w->timerProgressBar();
        QCOMPARE(w->progressBar->value(), 0);
        QVERIFY(w->progressTimer->isActive());
        QCOMPARE(w->webcamTimerId, 0);
    }

    void noAnnotationFileInTheDirectory() {
        ScriptedDialogs dialogs;
        std::unique_ptr<PrincipalW> w(window(project(false)));
        w->exporter();
        kel::exportWindow->lancerExportation();
        QCOMPARE(
            dialogs.lastText(),
            QStringLiteral("Aucune annotation n'est présente dans le répertoire de votre projet"));
        QCOMPARE(dialogs.shown.last().caption, QStringLiteral("KEL"));
        QCOMPARE(dialogs.shown.last().icon, kel::Dialogs::Icon::Warning);
        QVERIFY(!kel::exportWindow->isVisible());
        QVERIFY(!kel::exportWindow->montage());
        QVERIFY(!kel::exportRunning);
    }

    void fullExport_data() {
        QTest::addColumn<bool>("compress");
        QTest::addColumn<bool>("ffmpegMissing");
        QTest::addColumn<QString>("result");
        QTest::newRow("uncompressed") << false << false << "VideoFinale.avi";
        QTest::newRow("compressed") << true << false << "montage.avi";
        QTest::newRow("compression without ffmpeg") << true << true << "VideoFinale.avi";
    }

    void fullExport() {
        QFETCH(bool, compress);
        QFETCH(bool, ffmpegMissing);
        QFETCH(QString, result);
        ScriptedDialogs dialogs;
        const QString dir = project(true);
        QPointer<PrincipalW> w(window(dir));
        w->exporter();
        Export* e = kel::exportWindow;
        e->rbFaibleResolution->setChecked(true);
        e->cbCompresserMontage->setChecked(compress);
        const QByteArray path = qgetenv("PATH");
        if (ffmpegMissing)
            qputenv("PATH", m_dir.filePath("empty").toLocal8Bit());
        e->lancerExportation();
        qputenv("PATH", path);
        QVERIFY(kel::exportRunning);
        QVERIFY(!e->isVisible());

        // The render has not reported back yet: a second export is refused.
        w->exporter();
        QVERIFY(dialogs.lastText().contains("déjà en cours"));
        QCOMPARE(kel::exportWindow, e);

        QList<int> values;
        connect(w->progressBar, &QProgressBar::valueChanged, [&values](int v) { values << v; });
        QTRY_COMPARE_WITH_TIMEOUT(w->progressBar->value(), 100, 60000);
        QVERIFY(std::is_sorted(values.begin(), values.end()));
        QVERIFY(kel::exportFinished);
        QVERIFY(!w->progressTimer->isActive());
        QVERIFY(w->webcamTimerId != 0); // the preview runs again
        QVERIFY(QFile::exists(QDir(dir).filePath(result)));
        QCOMPARE(QFile::exists(QDir(dir).filePath("VideoFinale.avi")), !compress || ffmpegMissing);
        QCOMPARE(dialogs.shown.size(), ffmpegMissing ? 2 : 1);
        if (ffmpegMissing)
            QVERIFY(dialogs.shown.first().text.contains("ffmpeg"));

        // At quit, the uncompressed montage goes when compression was chosen, unless it is the
        // only result.
        if (compress && !ffmpegMissing) {
            QFile stale(QDir(dir).filePath("VideoFinale.avi"));
            QVERIFY(stale.open(QIODevice::WriteOnly));
        }
        w->projectSaved = true;
        w->quitter();
        QTRY_VERIFY(w.isNull());
        QCOMPARE(QFile::exists(QDir(dir).filePath("VideoFinale.avi")), !compress || ffmpegMissing);
    }

    void cancelFromTheMainWindow_data() {
        // A fake ffmpeg: it writes a partial file, then reads the frames slowly so that the
        // render is still going, or takes them all and never ends, as a long compression.
        QTest::addColumn<QString>("script");
        QTest::newRow("during rendering")
            << "while [ \"$(head -c 100000 | wc -c)\" -gt 0 ]; do sleep 0.05; done\n";
        QTest::newRow("during compression")
            << "cat >> \"$out\"\ntouch \"$0.compressing\"\nexec sleep 30\n";
    }

    void cancelFromTheMainWindow() {
        QFETCH(QString, script);
        const QString bin = path(QStringLiteral("bin %1").arg(QTest::currentDataTag()));
        QDir().mkpath(bin);
        QFile fake(QDir(bin).filePath("ffmpeg"));
        QVERIFY(fake.open(QIODevice::WriteOnly));
        fake.write(("#!/bin/sh\nfor out; do :; done\necho partial > \"$out\"\n" + script).toUtf8());
        fake.close();
        fake.setPermissions(fake.permissions() | QFileDevice::ExeOwner);
        const QByteArray searchPath = qgetenv("PATH");
        auto restorePath = qScopeGuard([&searchPath] { qputenv("PATH", searchPath); });
        qputenv("PATH", bin.toLocal8Bit() + ':' + searchPath);

        const QString dir = project(true);
        const QStringList previous{"montage.avi", "montage.srt", "VideoFinale.avi"};
        for (const QString& name : previous) {
            QFile f(QDir(dir).filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("previous");
        }
        ScriptedDialogs dialogs;
        dialogs.questionAnswers << false << true;
        std::unique_ptr<PrincipalW> w(window(dir));
        w->exporter();
        QVERIFY(!w->bAnnulerExport->isVisibleTo(w.get()));
        kel::exportWindow->rbGrandeResolution->setChecked(true); // large frames fill the pipe
        kel::exportWindow->cbCompresserMontage->setChecked(true);
        kel::exportWindow->lancerExportation();
        kel::Mixing* montage = kel::exportWindow->montage();
        QVERIFY(w->bAnnulerExport->isVisibleTo(w.get()));
        QCOMPARE(w->bAnnulerExport->geometry(), QRect(953, 23, 20, 20));
        QTRY_VERIFY_WITH_TIMEOUT(w->progressBar->value() > 0, 5000);
        if (QTest::currentDataTag() == QByteArray("during compression"))
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake.fileName() + ".compressing"), 30000);

        w->bAnnulerExport->click(); // answered Cancel
        QVERIFY(montage->isRendering());
        w->bAnnulerExport->click();
        QCOMPARE(dialogs.shown.last().caption, QStringLiteral("Exporter"));
        QCOMPARE(dialogs.shown.last().icon, kel::Dialogs::Icon::Question);
        QVERIFY(montage->isRendering()); // stops in the background: the window stays live
        QTRY_VERIFY_WITH_TIMEOUT(!montage->isRendering(), 10000);
        QCOMPARE(w->progressBar->value(), 0);
        QVERIFY(!w->progressTimer->isActive());
        QVERIFY(w->webcamTimerId != 0);
        QVERIFY(!w->bAnnulerExport->isVisibleTo(w.get()));
        QCOMPARE(dialogs.shown.size(), 2); // no failure message
        QCOMPARE(QDir(dir).entryList({"*Finale*", "*montage*"}, QDir::Files | QDir::Hidden),
                 previous);
        for (const QString& name : previous) {
            QFile f(QDir(dir).filePath(name));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), QByteArray("previous"));
        }

        // A new export runs to its end and replaces the montage and its subtitles.
        restorePath.dismiss();
        qputenv("PATH", searchPath);
        w->exporter();
        QVERIFY(kel::exportWindow->isVisible());
        kel::exportWindow->lancerExportation();
        QVERIFY(w->bAnnulerExport->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(w->progressBar->value(), 100, 60000);
        QFile srt(QDir(dir).filePath("montage.srt"));
        QVERIFY(srt.open(QIODevice::ReadOnly));
        QVERIFY(srt.readAll().contains("Annotation n°1"));
    }

    void undecodableAnnotation() {
        ScriptedDialogs dialogs;
        const QString dir = project(true, true);
        std::unique_ptr<PrincipalW> w(window(dir));
        w->exporter();
        kel::exportWindow->lancerExportation();
        QSignalSpy ended(kel::exportWindow->montage(), &kel::Mixing::exportEnded);
        QVERIFY(ended.wait(30000));
        QCOMPARE(ended.first().first().toBool(), false);
        QVERIFY(dialogs.lastText().contains("annotation1.avi"));
        QCOMPARE(dialogs.shown.last().icon, kel::Dialogs::Icon::Warning);
        QTRY_VERIFY_WITH_TIMEOUT(!w->progressTimer->isActive(), 5000);
        QCOMPARE(w->progressBar->value(), 0);
        QVERIFY(w->webcamTimerId != 0);
        QVERIFY(!kel::exportFinished);
        QCOMPARE(QDir(dir).entryList({"*Finale*", "*montage*"}, QDir::Files | QDir::Hidden),
                 QStringList());
        // A new export may start.
        w->exporter();
        QVERIFY(kel::exportWindow->isVisible());
    }
};

QTEST_MAIN(TestExportWindow)
#include "test_export_window.moc"
