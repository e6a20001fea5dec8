#include "app/principalw.h"
#include "export/export_controller.h"
#include "export/export_window.h"
#include "export/montage_window.h"
#include "project/project_session.h"
#include "support/montage_media.h"
#include "support/scripted_dialogs.h"
#include "support/window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QtTest>

using namespace montagemedia;
using testwindow::part;

// The export window's choices (slider `moves`, then a resolution, the format and the compression)
// and the frame w, h, inset top, w, h, caption w, h and font px they give; launched or cancelled.
struct Choice {
    QString resolution, format;
    QList<int> moves, expected;
    bool compress, launched;
};
Q_DECLARE_METATYPE(Choice)

class TestExportWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    // A project folder with annotation1, an earlier montage and project.xml; a window whose export
    // is launched at large size.
    void launch(kel::PrincipalW& w, ScriptedDialogs& dialogs, const QString& dir, bool compress,
                const QString& format = QStringLiteral("avi")) {
        QVERIFY(QDir().mkpath(dir) && writeEarlierMontage(dir));
        QVERIFY(writeProject(dir, {{1, 25}}));
        QVERIFY(QFile::exists(dir + "/annotation1.avi") ||
                QFile::copy(path("red.avi"), dir + "/annotation1.avi"));
        // The project comes with its student's video, which stays still.
        w.session()->open(dir);
        w.session()->setStudentVideo(path("student.avi"));
        testwindow::openProject(w, dialogs, dir);
        w.studentPlayer()->lecteur->stop();
        part(w, "bExporter")->click();
        kel::Export* e = w.exports()->settingsWindow();
        e->rbGrandeResolution->setChecked(true);
        e->cbCompresserMontage->setChecked(compress);
        e->comboFormat->setCurrentIndex(e->comboFormat->findData(format));
        e->lancerExportation();
    }

    // Each export window reads the choices of the last launch: from a settings file of the test's.
    void resetSettings() { QFile::remove(path("config/KEL/KEL.conf")); }
    // The resolution checked, the compression, the format and the sizes they give.
    static QString chosen(kel::Export& e) {
        QString s;
        for (QRadioButton* b : e.findChildren<QRadioButton*>())
            s += b->isChecked() ? b->text() + ' ' : QString();
        const kel::MontageGeometry g = e.chosenGeometry();
        return s + QStringLiteral("%1 %2 %3 %4 %5 %6")
                       .arg(e.cbCompresserMontage->isChecked())
                       .arg(e.chosenFormat())
                       .arg(g.frameWidth)
                       .arg(g.insetTop)
                       .arg(g.insetWidth)
                       .arg(g.insetHeight);
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path("config"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path("config"));
        QVERIFY(testmedia::makeVideo(path("camera.avi"), "testsrc", 2, 25, "160x120"));
        QVERIFY(makeStudent(path("student.avi"), 4));
        QVERIFY(testmedia::makeVideo(path("red.avi"), "color=c=red", 1));
    }

    void choices_data() {
        QTest::addColumn<Choice>("c");
        // clang-format off
        QTest::newRow("grande, 0 to 40 to 10, mp4")     << Choice{"Grande résolution", "mp4", {40, 10}, {640, 480, 320, 180, 160, 75, 25, 18}, true, true};
        QTest::newRow("moyenne, moved back to 0")       << Choice{"Moyenne résolution", "avi", {5, 0}, {400, 300, 206, 106, 93, 57, 16, 14}, false, true};
        QTest::newRow("faible, 99, cancelled")          << Choice{"Faible résolution", "mp4", {99}, {320, 240, 115, 134, 124, 42, 13, 10}, true, false};
        QTest::newRow("none, slider moved, cancelled")  << Choice{"", "avi", {40}, {400, 300, 206, 106, 94, 57, 16, 14}, false, false};
        // clang-format on
    }

    // The sizes of the montage; a launch remembers its choices for the next export, a cancelled
    // window does not.
    void choices() {
        QFETCH(Choice, c);
        resetSettings();
        ScriptedDialogs dialogs; // the empty project's warning
        QString fresh, picked;
        {
            kel::Export e{QString(), QString()};
            fresh = chosen(e);
            QCOMPARE(fresh, QStringLiteral("0 avi 400 206 106 94")); // a first export: AVI, nothing
            for (int v : c.moves)
                e.sliderTaille->setValue(v);
            for (QRadioButton* b : e.findChildren<QRadioButton*>())
                b->setChecked(b->text() == c.resolution);
            e.cbCompresserMontage->setChecked(c.compress);
            e.comboFormat->setCurrentIndex(e.comboFormat->findData(c.format));
            const kel::MontageGeometry g = e.chosenGeometry();
            QCOMPARE((QList<int>{g.frameWidth, g.frameHeight, g.insetTop, g.insetWidth,
                                 g.insetHeight, g.captionWidth, g.captionHeight, g.captionFontPx}),
                     c.expected);
            // The preview's inset is the real inset's rectangle, to the frame's scale.
            const QRect f = e.previewVideo->geometry(), i = e.previewAnnotation->geometry();
            const double scale = double(f.width()) / g.frameWidth;
            const QList<double> real{0, g.insetTop * scale, g.insetWidth * scale,
                                     g.insetHeight * scale, g.frameHeight * scale};
            const QList<int> shown{i.left() - f.left(), i.top() - f.top(), i.width(), i.height(),
                                   f.height()};
            for (int k = 0; k < real.size(); ++k)
                QVERIFY2(qAbs(shown[k] - real[k]) <= 1, qPrintable(QString::number(k)));
            picked = chosen(e);
            c.launched ? e.bLancerExportation->click() : e.bAnnuler->click();
        }
        kel::Export next{QString(), QString()};
        QCOMPARE(chosen(next), c.launched ? picked : fresh);
    }

    void exportToTheEnd_data() {
        QTest::addColumn<bool>("compress");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("ffmpeg"); // a fake one, or "none"
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("warning"); // none after a fake: its export is cancelled
        // The fakes write a partial file, then read the frames slowly, take them all and never
        // end, or fail; "$0.cancel" tells when the export should be cancelled.
        // clang-format off
        QTest::newRow("uncompressed")           << false << "avi" << "" << QStringList{"VideoFinale.avi", "montage.avi (earlier)", "montage.srt"} << "";
        QTest::newRow("compressed")             << true << "avi" << "" << QStringList{"VideoFinale.avi (earlier)", "montage.avi", "montage.srt"} << "";
        QTest::newRow("mp4, box unchecked")     << false << "mp4" << "" << QStringList{"VideoFinale.avi (earlier)", "montage.avi (earlier)", "montage.mp4", "montage.srt", "montage.vtt"} << "";
        QTest::newRow("ffmpeg missing")         << true << "avi" << "none" << QStringList{"VideoFinale.avi", "montage.avi (earlier)", "montage.srt"} << "ffmpeg n'est pas installé";
        QTest::newRow("undecodable annotation") << false << "avi" << "" << kEarlier << "annotation1.avi";
        QTest::newRow("compression fails")      << true << "avi" << "cat >/dev/null; echo 'Unknown encoder x264' >&2; exit 1" << kEarlier << "Unknown encoder x264";
        QTest::newRow("cancelled rendering")    << true << "avi" << "touch \"$0.cancel\"\nwhile [ \"$(head -c 100000 | wc -c)\" -gt 0 ]; do sleep 0.05; done" << kEarlier << "";
        QTest::newRow("ffmpeg stops reading")   << true << "avi" << "touch \"$0.cancel\"\ntrap '' TERM\nexec sleep 60" << kEarlier << "";
        // clang-format on
    }

    void exportToTheEnd() {
        QFETCH(bool, compress);
        QFETCH(QString, format);
        QFETCH(QString, ffmpeg);
        QFETCH(QStringList, files);
        QFETCH(QString, warning);
        resetSettings();
        const QString dir = path(QTest::currentDataTag());
        const QString fake = dir + "/ffmpeg";
        QVERIFY(QDir().mkpath(dir));
        QVERIFY(!warning.contains("annotation") || writeFile(dir + "/annotation1.avi", "garbage"));
        // "none": a file that is no program, and nothing else
        const auto restorePath =
            testmedia::pathFirst(ffmpeg.isEmpty() ? "" : dir, ffmpeg == "none");
        QVERIFY(writeFile(fake,
                          "#!/bin/sh\necho $$ > \"$0.pid\"\nfor out; do :; done\necho partial > "
                          "\"$out\"\n" +
                              ffmpeg.toUtf8(),
                          ffmpeg != "none"));

        ScriptedDialogs dialogs;
        dialogs.questionAnswers << false << true;
        kel::PrincipalW w(path("camera.avi"));
        launch(w, dialogs, dir, compress, format); // large frames fill the fake's pipe
        QPushButton* cancel = part(w, "bAnnulerExport");
        auto* bar = part<QProgressBar>(w, "progressBar");
        QVERIFY(cancel->isVisibleTo(&w) && !w.isPreviewRunning());
        int barAtEnd = -1; // the bar as soon as the montage tells of its end
        connect(w.exports(), &kel::ExportController::ended, this, [&] { barAtEnd = bar->value(); });
        part(w, "bExporter")->click(); // two montages would write the same files
        QVERIFY(dialogs.lastText().startsWith(QStringLiteral("Un export est déjà en cours.")));

        if (!ffmpeg.isEmpty() && warning.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(fake + ".cancel"), 30000);
            // Quitting, then "Annuler": the export goes on.
            QFile::copy(path("red.avi"), dir + "/annotation2.avi");
            w.session()->addAnnotation(2, 0, 50);
            dialogs.choices.enqueue(2);
            part(w, "bQuitter")->click();
            QVERIFY(w.exports()->isRendering());
            cancel->click(); // answered No: the export goes on
            QVERIFY(cancel->isEnabled());
            cancel->click();
            QVERIFY(w.exports()->isRendering()); // it stops in the background
        }
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(barAtEnd >= 0, 60000);
        // Cancelled within seconds, ffmpeg included, even when it neither reads nor terminates.
        if (ffmpeg.contains("cancel")) {
            QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
            QVERIFY(!QFile::exists("/proc/" + testmedia::contents(fake + ".pid").trimmed()));
        }
        QCOMPARE(bar->value(), files.contains("montage.srt") ? 100 : 0);
        QCOMPARE(barAtEnd, bar->value());
        // A montage made says where it is.
        const QString made = files.filter(QRegularExpression("^[^(]*$")).value(0);
        QCOMPARE(dialogs.count("actions"), barAtEnd == 100 ? 1 : 0);
        QVERIFY(barAtEnd != 100 || dialogs.shown.last().text.contains(dir + '/' + made));
        QVERIFY(w.isPreviewRunning() && !cancel->isVisibleTo(&w)); // preview resumed
        QCOMPARE(montageFiles(dir), files);
        dialogs.shown.removeIf(
            [](const ScriptedDialogs::Shown& s) { return s.icon != kel::Dialogs::Icon::Warning; });
        QVERIFY2(dialogs.shown.size() == !warning.isEmpty() && dialogs.lastText().contains(warning),
                 qPrintable(dialogs.lastText()));
        part(w, "bExporter")->click(); // a new export may start
        QVERIFY(w.exports()->settingsWindow()->isVisible());
    }

    // Quitting during an export asks whether to wait for its end: the window then closes once
    // the montage is made; or the export stops. No montage the teacher made is deleted.
    void quitDuringExport_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("files");
        const QStringList made{"VideoFinale.avi (earlier)", "montage.avi", "montage.srt"};
        QTest::newRow("wait for the end") << 0 << made;
        QTest::newRow("stop the export") << 1 << kEarlier;
        QTest::newRow("cancelled") << 2 << made;
    }
    void quitDuringExport() {
        QFETCH(int, answer);
        QFETCH(QStringList, files);
        const QString dir = path(QStringLiteral("quit, ") + QTest::currentDataTag());
        ScriptedDialogs dialogs;
        QPointer<kel::PrincipalW> w = new kel::PrincipalW(path("camera.avi"));
        const auto gone = qScopeGuard([&w] { delete w; });
        launch(*w, dialogs, dir, true);
        QVERIFY(w->exports()->isRendering());
        dialogs.choices.enqueue(answer);
        part(*w, "bQuitter")->click();
        QCOMPARE(dialogs.count("choice"), 1);
        QCOMPARE(w->exports()->isRendering(), answer != 1);
        QTRY_VERIFY_WITH_TIMEOUT(answer == 2 ? !w->exports()->isRendering() : w.isNull(), 60000);
        QCOMPARE(w.isNull(), answer != 2);
        QCOMPARE(montageFiles(dir), files);
    }

    // Quitting while ffmpeg neither reads nor terminates ends the export within seconds, ffmpeg
    // with it.
    void quitWhileFfmpegHangs() {
        const QString dir = path("quit");
        const auto restorePath = testmedia::pathFirst(dir);
        QVERIFY(QDir().mkpath(dir) &&
                testmedia::writeFake(dir + "/ffmpeg",
                                     "echo $$ > \"$0.pid\"\ntrap '' TERM\nexec sleep 60"));
        ScriptedDialogs dialogs;
        kel::PrincipalW w(path("camera.avi"));
        launch(w, dialogs, dir, true);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(dir + "/ffmpeg.pid"), 30000);
        QTest::qWait(500); // the render now waits for ffmpeg to take its frames
        const QByteArray pid = testmedia::contents(dir + "/ffmpeg.pid").trimmed();
        QElapsedTimer clock;
        clock.start();
        QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
        QVERIFY2(clock.elapsed() < 8000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!w.exports()->isRendering());
        QVERIFY(!QFile::exists("/proc/" + pid));
        QCOMPARE(montageFiles(dir), kEarlier);
    }
};

QTEST_MAIN(TestExportWindow)
#include "test_export_window.moc"
