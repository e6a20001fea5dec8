#include "app/globals.h"
#include "app/principalw.h"
#include "export/export_window.h"
#include "export/montage_window.h"
#include "support/montage_media.h"
#include "support/scripted_dialogs.h"

#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

using kel::Export;
using montagemedia::montageFiles;

class TestExportWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() {
        QVERIFY(testmedia::makeVideo(path("camera.avi"), "testsrc", 2, 25, "160x120"));
        QVERIFY(montagemedia::makeStudent(path("student.avi"), 4));
        QVERIFY(montagemedia::makeAnnotation(path("red.avi"), "red"));
    }

    void applyResolutionChoice_data() {
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QList<int>>("moves");
        QTest::addColumn<QList<int>>("expected"); // frame w, h, inset top, w, h, caption w, h, px
        QTest::addColumn<QRect>("preview");
        // clang-format off
        QTest::newRow("grande, untouched")    << "grande" << QList<int>{} << QList<int>{640, 480, 330, 170, 150, 75, 25, 18} << QRect(30, 300, 115, 111);
        QTest::newRow("grande, 0 to 40 to 10") << "grande" << QList<int>{40, 10} << QList<int>{640, 480, 320, 180, 160, 75, 25, 18} << QRect(30, 290, 125, 121);
        QTest::newRow("moyenne, untouched")   << "moyenne" << QList<int>{} << QList<int>{400, 300, 206, 106, 94, 57, 16, 14} << QRect(30, 300, 115, 111);
        QTest::newRow("moyenne, left at 0")   << "moyenne" << QList<int>{5, 0} << QList<int>{400, 300, 206, 106, 93, 57, 16, 14} << QRect(30, 300, 115, 111);
        QTest::newRow("faible, untouched")    << "faible" << QList<int>{} << QList<int>{320, 240, 165, 85, 75, 42, 13, 10} << QRect(30, 300, 115, 111);
        QTest::newRow("faible, 99")           << "faible" << QList<int>{99} << QList<int>{320, 240, 115, 134, 124, 42, 13, 10} << QRect(30, 201, 214, 210);
        QTest::newRow("none, slider moved")   << "" << QList<int>{40} << QList<int>{400, 300, 206, 106, 94, 57, 16, 14} << QRect(30, 260, 155, 151);
        // clang-format on
    }

    void applyResolutionChoice() {
        QFETCH(QString, resolution);
        QFETCH(QList<int>, moves);
        QFETCH(QList<int>, expected);
        QFETCH(QRect, preview);
        Export e(QString(), path("student.avi"));
        for (int v : moves)
            e.sliderTaille->setValue(v);
        for (QRadioButton* b : {e.rbGrandeResolution, e.rbMoyenneResolution, e.rbFaibleResolution})
            b->setChecked(b->text().startsWith(resolution, Qt::CaseInsensitive) &&
                          !resolution.isEmpty());
        QCOMPARE(e.previewAnnotation->geometry(), preview);
        for (int launch = 0; launch < 2; ++launch) { // a second launch gives the same sizes
            e.applyResolutionChoice();
            QCOMPARE((QList<int>{e.frameWidth, e.frameHeight, e.insetTop, e.insetWidth,
                                 e.insetHeight, e.captionWidth, e.captionHeight, e.captionFontPx}),
                     expected);
        }
    }

    void exportToTheEnd_data() {
        QTest::addColumn<bool>("compress");
        QTest::addColumn<QString>("ffmpeg"); // a fake one, or "none"
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("warning");
        // A fake ffmpeg that reads the frames slowly, or takes them all and never ends; it
        // writes a partial file, and "$0.cancel" once the export should be cancelled.
        const QString slow = "touch \"$0.cancel\"\n"
                             "while [ \"$(head -c 100000 | wc -c)\" -gt 0 ]; do sleep 0.05; done";
        const QString stuck = "cat >> \"$out\"\ntouch \"$0.cancel\"\nexec sleep 30";
        const QStringList earlier{"VideoFinale.avi (earlier)", "montage.avi (earlier)",
                                  "montage.srt (earlier)"};
        // clang-format off
        QTest::newRow("uncompressed")           << false << "" << QStringList{"VideoFinale.avi", "montage.avi (earlier)", "montage.srt"} << "";
        QTest::newRow("compressed")             << true << "" << QStringList{"VideoFinale.avi (earlier)", "montage.avi", "montage.srt"} << "";
        QTest::newRow("ffmpeg missing")         << true << "none" << QStringList{"VideoFinale.avi", "montage.avi (earlier)", "montage.srt"} << "ffmpeg n'est pas installé";
        QTest::newRow("undecodable annotation") << false << "" << earlier << "annotation1.avi";
        QTest::newRow("cancelled rendering")    << true << slow << earlier << "";
        QTest::newRow("cancelled compression")  << true << stuck << earlier << "";
        // clang-format on
    }

    void exportToTheEnd() {
        QFETCH(bool, compress);
        QFETCH(QString, ffmpeg);
        QFETCH(QStringList, files);
        QFETCH(QString, warning);
        const QString dir = path(QTest::currentDataTag());
        const QString fake = QDir(dir).filePath("bin/ffmpeg");
        QDir().mkpath(QDir(dir).filePath("bin"));
        QVERIFY(montagemedia::writeProject(dir, {{1, 25}}));
        QVERIFY(montagemedia::writeEarlierMontage(dir));
        if (warning.contains("annotation"))
            QVERIFY(montagemedia::writeFile(QDir(dir).filePath("annotation1.avi"), "garbage"));
        else
            QVERIFY(QFile::copy(path("red.avi"), QDir(dir).filePath("annotation1.avi")));
        const bool cancel = !ffmpeg.isEmpty() && ffmpeg != "none";
        const QByteArray searchPath = qgetenv("PATH");
        const auto restorePath = qScopeGuard([&searchPath] { qputenv("PATH", searchPath); });
        if (!ffmpeg.isEmpty())
            qputenv("PATH",
                    QFileInfo(fake).path().toLocal8Bit() + (cancel ? ':' + searchPath : ""));
        if (cancel)
            QVERIFY(montagemedia::writeFile(
                fake, "#!/bin/sh\nfor out; do :; done\necho partial > \"$out\"\n" + ffmpeg.toUtf8(),
                true));

        ScriptedDialogs dialogs;
        dialogs.questionAnswers << false << true;
        delete kel::exportWindow;
        kel::exportWindow = nullptr;
        kel::PrincipalW w(path("camera.avi"));
        w.studentVideoPath = path("student.avi");
        w.projectDir = dir;
        w.annotationCount = 1;
        w.exporter();
        Export* e = kel::exportWindow;
        e->rbGrandeResolution->setChecked(true); // large frames fill the fake's pipe
        e->cbCompresserMontage->setChecked(compress);
        e->lancerExportation();
        QVERIFY(kel::exportRunning && !e->isVisible());
        QVERIFY(w.bAnnulerExport->isVisibleTo(&w));
        w.exporter(); // two montages would write the same files
        QCOMPARE(dialogs.lastText(), QStringLiteral("Un export est déjà en cours. Veuillez "
                                                    "attendre sa fin avant d'en lancer un autre."));
        QCOMPARE(kel::exportWindow, e);

        if (cancel) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + ".cancel"), 30000);
            w.bAnnulerExport->click(); // answered No: the export goes on
            QVERIFY(w.bAnnulerExport->isEnabled());
            w.bAnnulerExport->click();
            QCOMPARE(dialogs.shown.last().icon, kel::Dialogs::Icon::Question);
            QVERIFY(e->montage()->isRendering()); // it stops in the background
        }
        QList<int> values;
        connect(w.progressBar, &QProgressBar::valueChanged, [&values](int v) { values << v; });
        QTRY_VERIFY_WITH_TIMEOUT(!w.progressTimer->isActive(), 60000);
        const bool done = files.contains("montage.srt");
        QCOMPARE(w.progressBar->value(), done ? 100 : 0);
        QVERIFY(!done || std::is_sorted(values.begin(), values.end()));
        QCOMPARE(kel::exportFinished, done);
        QVERIFY(w.webcamTimerId != 0); // the preview resumes
        QVERIFY(!w.bAnnulerExport->isVisibleTo(&w));
        QCOMPARE(montageFiles(dir), files);
        QStringList warnings;
        for (const ScriptedDialogs::Shown& s : dialogs.shown)
            if (s.icon == kel::Dialogs::Icon::Warning)
                warnings << s.text;
        QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
        QVERIFY2(warnings.join(' ').contains(warning), qPrintable(warnings.join(' ')));
        w.exporter(); // a new export may start
        QVERIFY(kel::exportWindow->isVisible());
    }
};

QTEST_MAIN(TestExportWindow)
#include "test_export_window.moc"
