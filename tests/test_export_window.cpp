#include "app/principalw.h"
#include "export/export_controller.h"
#include "export/export_window.h"
#include "export/film_composer.h"
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

// The export window's choices (slider `moves`, then a resolution, the format, the MP4's layout
// and the compression) and the frame w, h, inset top, w, h, caption w, h and font px they give;
// launched or cancelled.
struct Choice {
    QString resolution, format, layout;
    QList<int> moves, expected;
    bool compress, launched;
};
Q_DECLARE_METATYPE(Choice)

// The choices a window is given: format, size ("" for none), layout, slider value (-1: untouched).
struct Pick {
    QString format, size, layout;
    int slider = -1;
};
Q_DECLARE_METATYPE(Pick)

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
        e->comboFormat->setCurrentIndex(e->comboFormat->findData(format));
        e->rbGrandeResolution->setChecked(true);
        e->cbCompresserMontage->setChecked(compress);
        e->lancerExportation();
    }

    // Each export window reads the choices of the last launch: from a settings file of the test's.
    void resetSettings() { QFile::remove(path("config/KEL/KEL.conf")); }
    static QRadioButton* sizeButton(kel::Export& e, const QString& size) {
        const QMap<QString, QRadioButton*> buttons{{"grande", e.rbGrandeResolution},
                                                   {"moyenne", e.rbMoyenneResolution},
                                                   {"faible", e.rbFaibleResolution},
                                                   {"hd", e.rbHd}};
        return buttons.value(size);
    }
    // A window opened on `student` and given the choices as a teacher would: the format first,
    // then the size and the layout. No size: a choice remembered from an earlier version.
    std::unique_ptr<kel::Export> open(const Pick& p, const QString& student = QString()) {
        resetSettings();
        if (p.size.isEmpty())
            QSettings("KEL", "KEL").setValue("export/resolution", "");
        auto e = std::make_unique<kel::Export>(QString(), student);
        pick(*e, p);
        return e;
    }
    static void pick(kel::Export& e, const Pick& p) {
        e.comboFormat->setCurrentIndex(
            e.comboFormat->findData(p.format == "avi" ? "mp4" : p.format));
        if (QRadioButton* b = sizeButton(e, p.size))
            b->setChecked(true);
        // By the text the teacher reads.
        const QMap<QString, QString> layouts{{"incrustation", "Incrustation"},
                                             {"grande", "Grande annotation"},
                                             {"cote", "Côte à côte"}};
        e.comboDisposition->setCurrentIndex(e.comboDisposition->findText(layouts.value(p.layout)));
        if (p.slider >= 0)
            e.sliderTaille->setValue(p.slider);
        e.comboFormat->setCurrentIndex(e.comboFormat->findData(p.format));
    }
    // The checked size and the controls that can be changed.
    static QString enabled(kel::Export& e) {
        QStringList s;
        for (const QString& size : QStringList{"grande", "moyenne", "faible", "hd"})
            s << (sizeButton(e, size)->isChecked() ? size : QString());
        s.removeAll(QString());
        const QList<QPair<QString, QWidget*>> controls{
            {"compress", e.cbCompresserMontage}, {"hd", e.rbHd},
            {"layout", e.comboDisposition},      {"layout label", e.labelDisposition},
            {"slider", e.sliderTaille},          {"slider label", e.labelTaille}};
        for (const auto& [name, w] : controls)
            if (w->isEnabled())
                s << name;
        return s.join(", ");
    }
    // The resolution checked, the compression, the format and the sizes they give.
    static QString chosen(kel::Export& e) {
        QString s;
        for (QRadioButton* b : e.findChildren<QRadioButton*>())
            s += b->isChecked() ? b->text() + ' ' : QString();
        const kel::MontageGeometry g = e.chosenGeometry();
        return s + QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                       .arg(e.cbCompresserMontage->isChecked())
                       .arg(e.chosenFormat(), e.comboDisposition->currentData().toString())
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
        QVERIFY(testmedia::makeVideo(path("portrait.avi"), "testsrc", 2, 25, "96x160"));
        // A phone's: stored lying, turned upright by its rotation.
        QVERIFY(makeUpright(path("phone.mp4"), "96x160", {}, "clock", "90"));
    }

    void choices_data() {
        QTest::addColumn<Choice>("c");
        // clang-format off
        QTest::newRow("grande, 0 to 40 to 10, mp4")     << Choice{"Grande résolution", "mp4", "incrustation", {40, 10}, {640, 480, 320, 180, 160, 75, 25, 18}, true, true};
        QTest::newRow("moyenne, moved back to 0")       << Choice{"Moyenne résolution", "avi", "grande", {5, 0}, {400, 300, 206, 106, 93, 57, 16, 14}, false, true};
        QTest::newRow("faible, 99, cancelled")          << Choice{"Faible résolution", "mp4", "grande", {99}, {320, 240, 115, 134, 124, 42, 13, 10}, true, false};
        QTest::newRow("hd, 20, grande annotation")      << Choice{"HD (1280×720)", "mp4", "grande", {20}, {640, 480, 310, 190, 170, 75, 25, 18}, false, true};
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
            // A first export makes what a teacher can send: the MP4 in hd, side by side.
            QCOMPARE(fresh, QStringLiteral("HD (1280×720) 0 mp4 cote 640 330 170 150"));
            QVERIFY(e.chosenHd() && e.chosenLayout() == kel::MontageLayout::Cote);
            for (int v : c.moves)
                e.sliderTaille->setValue(v);
            for (QRadioButton* b : e.findChildren<QRadioButton*>())
                b->setChecked(b->text() == c.resolution);
            e.cbCompresserMontage->setChecked(c.compress);
            e.comboDisposition->setCurrentIndex(e.comboDisposition->findData(c.layout));
            e.comboFormat->setCurrentIndex(e.comboFormat->findData(c.format));
            const kel::MontageGeometry g = e.chosenGeometry();
            QCOMPARE((QList<int>{g.frameWidth, g.frameHeight, g.insetTop, g.insetWidth,
                                 g.insetHeight, g.captionWidth, g.captionHeight, g.captionFontPx}),
                     c.expected);
            picked = chosen(e);
            c.launched ? e.bLancerExportation->click() : e.bAnnuler->click();
        }
        kel::Export next{QString(), QString()};
        QCOMPARE(chosen(next), c.launched ? picked : fresh);
    }

    void enabledControls_data() {
        QTest::addColumn<Pick>("p");
        QTest::addColumn<QString>("expected");
        // clang-format off
        QTest::newRow("mp4 hd, side by side")     << Pick{"mp4", "hd", "cote"} << "hd, hd, layout, layout label";
        QTest::newRow("mp4 hd, inset")            << Pick{"mp4", "hd", "incrustation"} << "hd, hd, layout, layout label, slider, slider label";
        QTest::newRow("mp4 faible, large comment") << Pick{"mp4", "faible", "grande"} << "faible, hd, layout, layout label";
        QTest::newRow("mp4 moyenne, inset")       << Pick{"mp4", "moyenne", "incrustation"} << "moyenne, hd, layout, layout label, slider, slider label";
        QTest::newRow("avi grande")               << Pick{"avi", "grande", "cote"} << "grande, compress, slider, slider label";
        QTest::newRow("avi from hd: grande")      << Pick{"avi", "hd", "cote"} << "grande, compress, slider, slider label";
        QTest::newRow("avi faible")               << Pick{"avi", "faible", "grande"} << "faible, compress, slider, slider label";
        QTest::newRow("avi, no size")             << Pick{"avi", "", "incrustation"} << "compress";
        QTest::newRow("mp4, no size, inset")      << Pick{"mp4", "", "incrustation"} << "hd, layout, layout label";
        // clang-format on
    }

    // Only the controls that mean something for the format, size and layout can be changed.
    void enabledControls() {
        QFETCH(Pick, p);
        QFETCH(QString, expected);
        QCOMPARE(enabled(*open(p)), expected);
    }

    void launchedJob_data() {
        QTest::addColumn<Pick>("p");
        QTest::addColumn<bool>("compress");
        QTest::addColumn<QString>("expected"); // format, hd, layout, frame width, inset width
        // clang-format off
        QTest::newRow("mp4 hd, side by side")   << Pick{"mp4", "hd", "cote"} << false << "mp4 1 2 640 170";
        QTest::newRow("mp4 hd, inset, 40")      << Pick{"mp4", "hd", "incrustation", 40} << false << "mp4 1 0 640 210";
        QTest::newRow("mp4 faible, large")      << Pick{"mp4", "faible", "grande"} << false << "mp4 0 1 320 85";
        QTest::newRow("avi from hd, compressed") << Pick{"avi", "hd", "grande"} << true << "avi 0 0 640 170";
        QTest::newRow("avi moyenne, 10")        << Pick{"avi", "moyenne", "cote", 10} << false << "avi 0 0 400 112";
        QTest::newRow("avi, no size, 40")       << Pick{"avi", "", "cote", 40} << false << "avi 0 0 400 106";
        // clang-format on
    }

    // The montage launched is the one chosen.
    void launchedJob() {
        QFETCH(Pick, p);
        QFETCH(bool, compress);
        QFETCH(QString, expected);
        const auto window = open(p);
        kel::Export& e = *window;
        e.setProject({}, {"annotation1.avi"});
        e.cbCompresserMontage->setChecked(compress);
        QList<kel::MontageJob> jobs;
        connect(&e, &kel::Export::launched, this,
                [&jobs](const kel::MontageJob& job) { jobs << job; });
        e.bLancerExportation->click();
        QCOMPARE(jobs.size(), 1);
        const kel::MontageJob& job = jobs.first();
        QCOMPARE(QStringLiteral("%1 %2 %3 %4 %5")
                     .arg(job.format)
                     .arg(job.hd)
                     .arg(int(job.layout))
                     .arg(job.geometry.frameWidth)
                     .arg(job.geometry.insetWidth),
                 expected);
        QCOMPARE(job.compress, compress);
    }

    void showResult_data() {
        QTest::addColumn<int>("action"); // 0: the folder, 1: the montage
        QTest::addColumn<bool>("opened");
        QTest::newRow("folder, no file manager") << 0 << false;
        QTest::newRow("montage, no player") << 1 << false;
        QTest::newRow("montage played") << 1 << true;
    }

    // Where the desktop cannot show the montage, the teacher is told so and given its path.
    void showResult() {
        QFETCH(int, action);
        QFETCH(bool, opened);
        // Apart from the projects the other tests export.
        const QString montage = path("resultat/montage.mp4");
        QVERIFY(QDir().mkpath(path("resultat")));
        QVERIFY(QFile::copy(path("red.avi"), montage) || QFile::exists(montage));
        ScriptedDialogs dialogs;
        dialogs.choices << action;
        QList<QUrl> asked;
        kel::ExportController::showResult(montage, [&](const QUrl& url) {
            asked << url;
            return opened;
        });
        const QString target = action == 0 ? path("resultat") : montage;
        QCOMPARE(asked, QList<QUrl>{QUrl::fromLocalFile(target)});
        QCOMPARE(dialogs.count("platform"), opened ? 0 : 1);
        if (!opened) {
            QCOMPARE(dialogs.shown.last().icon, kel::Dialogs::Icon::Warning);
            QVERIFY2(dialogs.lastText().endsWith("\r\n" + QDir::toNativeSeparators(target)),
                     qPrintable(dialogs.lastText()));
            QVERIFY(dialogs.lastText().contains(action == 0 ? "dossier" : "lecteur"));
        }
    }

    void layoutDrawing_data() {
        QTest::addColumn<QString>("student");
        QTest::addColumn<Pick>("p");
        QTest::addColumn<QSize>("frame"); // of the film the renderer makes
        // clang-format off
        QTest::newRow("hd, side by side")          << "student.avi" << Pick{"mp4", "hd", "cote"} << QSize(1280, 720);
        QTest::newRow("hd, large comment")         << "student.avi" << Pick{"mp4", "hd", "grande"} << QSize(1280, 720);
        QTest::newRow("hd, inset, 60")             << "student.avi" << Pick{"mp4", "hd", "incrustation", 60} << QSize(1280, 720);
        QTest::newRow("portrait hd, side by side") << "portrait.avi" << Pick{"mp4", "hd", "cote"} << QSize(720, 1280);
        QTest::newRow("phone hd, side by side")    << "phone.mp4" << Pick{"mp4", "hd", "cote"} << QSize(720, 1280);
        QTest::newRow("portrait hd, inset")        << "portrait.avi" << Pick{"mp4", "hd", "incrustation"} << QSize(720, 1280);
        QTest::newRow("faible, large comment")     << "student.avi" << Pick{"mp4", "faible", "grande"} << QSize(320, 240);
        QTest::newRow("moyenne, side by side")     << "" << Pick{"mp4", "moyenne", "cote"} << QSize(400, 300);
        QTest::newRow("avi grande, 30")            << "portrait.avi" << Pick{"avi", "grande", "cote", 30} << QSize(640, 480);
        // clang-format on
    }

    // The drawing is the film's frame to scale, and its comment box lies where the renderer puts
    // the comment.
    void layoutDrawing() {
        QFETCH(QString, student);
        QFETCH(Pick, p);
        QFETCH(QSize, frame);
        const auto window = open(p, student.isEmpty() ? QString() : path(student));
        kel::Export& e = *window;
        const bool portrait = QStringList{"portrait.avi", "phone.mp4"}.contains(student);
        QCOMPARE(e.rbHd->text(), QString(portrait ? "HD (720×1280)" : "HD (1280×720)"));

        kel::MontageGeometry g = e.chosenGeometry();
        if (e.chosenHd())
            g = kel::hdGeometry(g, portrait);
        QCOMPARE(QSize(g.frameWidth, g.frameHeight), frame);
        const cv::Rect box =
            p.format == "avi"
                ? cv::Rect(0, g.insetTop, g.insetWidth, g.insetHeight)
                : kel::FilmComposer(g, e.chosenLayout()).commentBox(cv::Size(640, 480));

        const QRect f = e.previewVideo->geometry(), i = e.previewAnnotation->geometry();
        QVERIFY(f.width() <= 271 && f.height() <= 204 && f.bottom() == 410);
        QVERIFY(f.width() == 271 || f.height() == 204);
        const double scale = double(f.width()) / frame.width();
        QVERIFY(qAbs(f.height() - frame.height() * scale) <= 1);
        const QList<double> real{box.x * scale, box.y * scale, box.width * scale,
                                 box.height * scale};
        const QList<int> shown{i.left() - f.left(), i.top() - f.top(), i.width(), i.height()};
        for (int k = 0; k < real.size(); ++k)
            QVERIFY2(qAbs(shown[k] - real[k]) <= 1.5,
                     qPrintable(QStringLiteral("%1: %2 for %3").arg(k).arg(shown[k]).arg(real[k])));
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
