#include "app/principalw.h"
#include "app/recording_controller.h"
#include "export/export_controller.h"
#include "export/export_window.h"
#include "playback/player_widget.h"
#include "playback/synchronised_playback.h"
#include "playback/video_player.h"
#include "project/project_memory.h"
#include "project/project_session.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"
#include "support/window.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using kel::PrincipalW;
using testwindow::part;

static const QByteArray threeEntries =
    "<ANNOTATION><Numero Value='1'><FramePosition Value='25'/></Numero><Numero Value='2'>"
    "<FramePosition Value='50'/></Numero><Numero Value='10'><FramePosition Value='75'/></Numero>"
    "</ANNOTATION>";

using testmedia::touch;

// The quit question after `steps` (r: an annotation recorded, s: saved, c: the earlier one cut,
// x: the earlier one deleted): its `answer` (0 to 2), whether project.xml existed at the opening,
// whether the question came, project.xml afterwards ("opened", "changed" or "none"), the
// recording and window kept, and what the question says "Ne pas enregistrer" does.
struct Quit {
    int answer;
    bool hadXml;
    QString steps;
    bool asked;
    QString xmlAfter;
    bool recordingKept, closed;
    QString says;
};
Q_DECLARE_METATYPE(Quit)

class TestPrincipalW : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    const QString noCamera = QStringLiteral("/nonexistent/camera.avi");
    QString base;   // a folder whose path has spaces, accents and quotes
    QString camera; // a file camera, 128 x 48
    QString at(const QString& name) const { return QDir::cleanPath(base + '/' + name); }

    // The window's project: folder | list (numbers, empty for the placeholder) | count current |
    // entries.
    QString state(PrincipalW& w) {
        QString s = w.session()->dir().mid(base.size() + 1) + '|';
        const QComboBox* list = part<QComboBox>(w, "comboAnnotations");
        for (int i = 0; i < list->count(); ++i)
            s += (i ? "," : "") + list->itemData(i).toString();
        s += QString::asprintf("|%d %d|", w.session()->count(), w.session()->current());
        for (const kel::SessionAnnotation& a : w.session()->annotations())
            if (a.hasEntry)
                s += QStringLiteral("%1 %2 ").arg(a.number).arg(a.entry.framePosition);
        return s.trimmed();
    }

    // The boxes shown since `from` as "kind: text"; a warning not from "KEL" shows as "bad".
    static QStringList boxes(const ScriptedDialogs& d, int from = 0) {
        QStringList texts;
        for (const auto& s : d.shown.mid(from)) {
            const bool fromKel = s.caption == "KEL" && s.icon == kel::Dialogs::Icon::Warning;
            texts << (s.kind == "plain" || fromKel ? s.kind : "bad") + ": " + s.text;
        }
        return texts;
    }

private slots:
    void initTestCase() {
        testwindow::keepSettingsIn(dir.filePath("config"));
        camera = dir.filePath(QStringLiteral("camera.avi"));
        QVERIFY(testmedia::makeVideo(camera, QStringLiteral("testsrc"), 2, 25,
                                     QStringLiteral("128x48")));
        base = QDir(dir.path()).filePath(QStringLiteral("Cours d'été \"LSF\""));
        for (const char* file : {"premier/annotation1.avi", "premier/annotation2.avi",
                                 "premier/annotation10.avi", "autre/annotation4.avi",
                                 "abîmé/annotation1.avi", "disparu/annotation1.avi", "fichier"})
            touch(at(file));
        touch(at("premier/project.xml"), threeEntries);
    }

    // Without a camera: the buttons of a window with no project, and one warning naming the camera.
    void startupWithoutCamera() {
        ScriptedDialogs dialogs;
        PrincipalW w(noCamera);
        for (QWidget* b : std::initializer_list<QWidget*>{
                 part(w, "bOuvrirVideo"), part(w, "bExporter"), part(w, "bEnregistrerAnnotation"),
                 part(w, "bSupprimerAnnotation"), w.studentPlayer()->bLecture})
            QVERIFY2(!b->isEnabled(), qPrintable(b->toolTip()));
        QCOMPARE(part<QComboBox>(w, "comboAnnotations")->itemText(0),
                 QStringLiteral("Aucune annotation"));
        w.show();
        QTest::qWait(200); // several preview ticks
        QCOMPARE(dialogs.count(QStringLiteral("platform")), 1);
        QCOMPARE(dialogs.shown[0].text, kel::cameraOpenFailureText(noCamera));
        QVERIFY(!part<QWidget>(w, "webcamView")->isVisible() && !w.isPreviewRunning());
    }

    // The question comes only after a change; "Ne pas enregistrer" undoes this session's changes
    // and nothing else; "Annuler" and a closed box leave everything as it was.
    void quitPrompt_data() {
        QTest::addColumn<Quit>("q");
        // clang-format off
        const QString one = "« Ne pas enregistrer » effacera l'annotation enregistrée pendant cette séance.";
        QTest::newRow("Enregistrer") << Quit{0, true, "r", true, "changed", true, true, one};
        QTest::newRow("Ne pas enregistrer") << Quit{1, true, "r", true, "opened", false, true, one};
        QTest::newRow("Ne pas enregistrer, no file before") << Quit{1, false, "r", true, "none", false, true, one};
        QTest::newRow("Annuler") << Quit{2, true, "r", true, "changed", true, false, one};
        QTest::newRow("no change") << Quit{1, true, "", false, "opened", false, true, ""};
        QTest::newRow("saved") << Quit{1, true, "rs", false, "changed", true, true, ""};
        QTest::newRow("changed after saving") << Quit{1, true, "srr", true, "opened", false, true,
            "« Ne pas enregistrer » effacera les 2 annotations enregistrées pendant cette séance."};
        QTest::newRow("cut") << Quit{1, true, "c", true, "opened", false, true,
            "« Ne pas enregistrer » annulera la coupure d'une annotation."};
        QTest::newRow("recorded, cut, deleted") << Quit{1, true, "rcx", true, "opened", false, true,
            one.chopped(1) + " et annulera la coupure d'une annotation.\r\nLes annotations "
            "supprimées pendant cette séance (1) ne reviendront pas."};
        // clang-format on
    }
    void quitPrompt() {
        QFETCH(Quit, q);
        QTemporaryDir project;
        const QDir folder(project.path());
        // Written by an earlier session, in a layout this program would not write.
        const QByteArray opened = "<ANNOTATION><Numero Value='1'><FramePosition Value='250'/>"
                                  "<Type Value='1'/><CouperAnnotation ValueFin='900'/></Numero>"
                                  "</ANNOTATION>";
        touch(folder.filePath("annotation1.avi"), "earlier");
        if (q.hadXml)
            touch(folder.filePath("project.xml"), opened);

        ScriptedDialogs dialogs;
        dialogs.choices.enqueue(q.answer);
        QPointer<PrincipalW> w = new PrincipalW(noCamera);
        w->show();
        w->session()->open(project.path());
        for (const QChar step : q.steps) {
            if (step == 's') {
                testwindow::invoke(*w, "enregistrerProjet");
                QVERIFY(part<QLabel>(*w, "labelStatut")->isVisible());
                QCOMPARE(part<QLabel>(*w, "labelStatut")->text(), "✔ Projet enregistré");
                continue;
            }
            if (step == 'c' || step == 'x') {
                QVERIFY(step == 'c' ? (w->session()->setCutStart(1, 500), true)
                                    : w->session()->removeAnnotation(1));
                continue;
            }
            const int n = w->session()->numberForRecording();
            touch(folder.filePath(QStringLiteral("annotation%1.avi").arg(n)), "recorded");
            w->session()->addAnnotation(n, 0, 50 * n);
        }
        const QByteArray changed = testmedia::contents(folder.filePath("project.xml"));
        part(*w, "bQuitter")->click();

        QCOMPARE(dialogs.count(QStringLiteral("choice")), q.asked ? 1 : 0);
        if (q.asked)
            QVERIFY2(dialogs.shown.last().text.endsWith("\r\n\r\n" + q.says),
                     qPrintable(dialogs.shown.last().text));
        QCOMPARE(folder.exists("project.xml"), q.xmlAfter != "none");
        QCOMPARE(testmedia::contents(folder.filePath("project.xml")),
                 q.xmlAfter == "opened"    ? opened
                 : q.xmlAfter == "changed" ? changed
                                           : "");
        QCOMPARE(folder.exists("annotation1.avi"), !q.steps.contains('x'));
        QCOMPARE(folder.exists("annotation2.avi"), q.recordingKept);
        QTRY_VERIFY(q.closed ? w.isNull() : w->isVisible());
        delete w;
    }

    // The real boxes: the quit question's buttons in their order and roles, and what Escape and
    // closing the box give.
    void realQuitQuestion_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("answer");
        QTest::newRow("Escape") << "escape" << 2;
        QTest::newRow("closed") << "close" << 2;
        QTest::newRow("Ne pas enregistrer") << "Ne pas enregistrer" << 1;
    }
    void realQuitQuestion() {
        QFETCH(QString, how);
        QFETCH(int, answer);
        QStringList roles;
        QTimer::singleShot(100, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            QAbstractButton* named = nullptr;
            for (QAbstractButton* b : box->buttons()) {
                roles << QStringLiteral("%1:%2").arg(b->text()).arg(box->buttonRole(b));
                if (b->text() == how)
                    named = b;
            }
            if (how == "escape")
                QTest::keyClick(box, Qt::Key_Escape);
            else if (how == "close")
                box->close();
            else
                named->click();
        });
        const int chosen = kel::dialogs().choice(QStringLiteral("Voulez-vous enregistrer ?"),
                                                 {"Enregistrer", "Ne pas enregistrer", "Annuler"});
        QCOMPARE(chosen, answer);
        roles.sort();
        QCOMPARE(roles,
                 (QStringList{
                     QStringLiteral("Annuler:%1").arg(QMessageBox::RejectRole),
                     QStringLiteral("Enregistrer:%1").arg(QMessageBox::AcceptRole),
                     QStringLiteral("Ne pas enregistrer:%1").arg(QMessageBox::DestructiveRole)}));
    }

    // From an open project, "Nouveau" or "Ouvrir" answered in every way.
    void projectSlots_data() {
        QTest::addColumn<QStringList>("answers"); // the slot, the name, the folder; "": cancelled
        QTest::addColumn<QString>("box");         // %1: the folder aimed at
        QTest::addColumn<QString>("after");
        const QString first = "premier|1,10,2|3 2|1 25 10 75 2 50";
        const QString created = "plain: Répertoire sélectionné: \r\n%1";
        const QString opened = "plain: Répertoire sélectionné: \r\n %1";
        const QString cannot = "platform: Impossible de créer le répertoire du projet « %1 ».\r\n"
                               "Choisissez un autre nom ou un autre emplacement.";
        // clang-format off
        QTest::newRow("name cancelled") << QStringList{"new", "", ""} << "" << first;
        QTest::newRow("created") << QStringList{"new", "Leçon 1 d'Élodie", "."} << created << "Leçon 1 d'Élodie||0 0|";
        QTest::newRow("existing folder") << QStringList{"new", "premier", "."} << created << "premier|1,10,2|3 0|1 25 10 75 2 50";
        QTest::newRow("name of a file") << QStringList{"new", "fichier", "."} << cannot << first;
        QTest::newRow("name leaving the location") << QStringList{"new", "../ailleurs", "."} << cannot << first;
        QTest::newRow("open another") << QStringList{"open", "", "autre"} << opened << "autre|4|1 0|";
        QTest::newRow("cancelled") << QStringList{"open", "", ""} << "plain: Aucun répertoire n'a été sélectionné" << "||0 0|";
        // clang-format on
    }
    void projectSlots() {
        QFETCH(QStringList, answers);
        QFETCH(QString, box);
        QFETCH(QString, after);
        ScriptedDialogs d;
        PrincipalW w(QStringLiteral("/nonexistent-camera.avi"));
        testwindow::openProject(w, d, at("premier"));
        w.session()->setCurrent(2);
        part(w, "bEnregistrerProjet")->click();

        const int shown = int(d.shown.size());
        const auto restore = qScopeGuard([cwd = QDir::currentPath()] { QDir::setCurrent(cwd); });
        // A cancelled dialog must not stand for the working directory.
        QDir::setCurrent(at("premier"));
        d.texts.enqueue(answers[1]);
        d.directories.enqueue(answers[2].isEmpty() ? "" : at(answers[2]));
        part(w, answers[0] == "new" ? "bNouveau" : "bOuvrirProjet")->click();
        QCOMPARE(state(w), after);
        if (!w.session()->isOpen()) {
            w.session()->addAnnotation(1, 0, 25); // enters and writes nothing
            QVERIFY(w.session()->annotations().isEmpty() && !w.session()->hasChanges());
        }
        QCOMPARE(boxes(d, shown).join('\n'),
                 box.replace("%1", QDir(at(answers[2])).filePath(answers[1])));
        QCOMPARE(testmedia::contents(at("premier/project.xml")), threeEntries);
        QVERIFY(!QFileInfo::exists(at("../ailleurs")));
    }

    // Each item tells its annotation apart: number, title, second, Type, length, trimmed. A title
    // given with ✎ goes with the comment into the montage's plan; an empty one removes it.
    void listTexts() {
        touch(at("textes/project.xml"),
              "<ANNOTATION><Numero Value='1'><FramePosition Value='925'/><Type Value='0'/>"
              "<Duree Value='4100'/><CouperAnnotation ValueFin='3000'/></Numero>"
              "<Numero Value='2'><FramePosition Value='1525'/><Type Value='1'/></Numero>"
              "</ANNOTATION>");
        for (const char* file : {"textes/annotation1.avi", "textes/annotation2.avi",
                                 "textes/annotation3.avi", "textes/Annotation4.avi"})
            touch(at(file));
        ScriptedDialogs d;
        PrincipalW w(QStringLiteral("/nonexistent-camera.avi"));
        testwindow::openProject(w, d, at("textes"));
        const auto items = [&w] {
            QStringList texts;
            const QComboBox* list = part<QComboBox>(w, "comboAnnotations");
            for (int i = 0; i < list->count(); ++i)
                texts << list->itemText(i);
            return texts;
        };
        QCOMPARE(items(),
                 (QStringList{"n°1 · 00:37 · lecture · 3,0 s ✂", "n°2 · 01:01 · pause", "n°3"}));
        QCOMPARE(part<QLabel>(w, "labelProjet")->text(), QStringLiteral("Projet : textes"));
        for (const char* title : {"  Les   mains\n", "L'espace", ""}) {
            w.session()->setCurrent(2);
            d.texts.enqueue(title);
            part(w, "bTitreAnnotation")->click();
        }
        d.texts.enqueue("Le regard");
        w.session()->setCurrent(1);
        part(w, "bTitreAnnotation")->click();
        part(w, "bTitreAnnotation")->click(); // cancelled: kept
        QCOMPARE(items()[0], QStringLiteral("n°1 · « Le regard » · 00:37 · lecture · 3,0 s ✂"));
        QCOMPARE(items()[1], QStringLiteral("n°2 · 01:01 · pause"));
        const QList<kel::AnnotationInsertion> plan = kel::planInsertions(*w.session());
        QCOMPARE(plan.size(), 2);
        QCOMPARE(plan[0].title, QStringLiteral("Le regard"));
        // Kept beside project.xml, never in it; a deleted comment takes its title along.
        QVERIFY(!testmedia::contents(at("textes/project.xml")).contains("regard"));
        PrincipalW again(QStringLiteral("/nonexistent-camera.avi"));
        again.session()->open(at("textes"));
        QCOMPARE(again.session()->annotation(1)->title, QStringLiteral("Le regard"));
        QVERIFY(again.session()->removeAnnotation(1));
        QVERIFY(kel::ProjectMemory(at("textes")).titles().isEmpty());
    }

    // The student's video opened with a project comes back with it, while it can be found.
    void rememberedStudentVideo_data() {
        QTest::addColumn<QString>("video"); // where, from the project's parent folder
        QTest::addColumn<QString>("then");  // what happens before the project is opened again
        // clang-format off
        QTest::newRow("inside the project") << "projet/élève.avi" << "moved with it";
        QTest::newRow("beside the project") << "élève.avi" << "moved with it";
        QTest::newRow("elsewhere") << "../ailleurs/élève.avi" << "";
        QTest::newRow("deleted") << "élève.avi" << "deleted";
        // clang-format on
    }
    void rememberedStudentVideo() {
        QFETCH(QString, video);
        QFETCH(QString, then);
        QTemporaryDir top;
        const QString parent = top.filePath("cours"), moved = top.filePath("cours déplacé");
        QVERIFY(QDir().mkpath(parent + "/projet") && QDir().mkpath(top.filePath("ailleurs")));
        const QString path = QDir::cleanPath(parent + '/' + video);
        QVERIFY(testmedia::makeVideo(path, QStringLiteral("testsrc"), 1));
        {
            ScriptedDialogs d;
            PrincipalW w(QStringLiteral("/nonexistent-camera.avi"));
            QVERIFY(testwindow::openProjectAndVideo(w, d, parent + "/projet", path));
        }
        QString project = parent + "/projet", expected = path;
        if (then == "moved with it") {
            QVERIFY(QDir().rename(parent, moved));
            project = moved + "/projet";
            expected = QDir::cleanPath(moved + '/' + video);
        } else if (then == "deleted") {
            QVERIFY(QFile::remove(path));
        }
        ScriptedDialogs d;
        PrincipalW w(QStringLiteral("/nonexistent-camera.avi"));
        testwindow::openProject(w, d, project);
        kel::MyVideoPlayer* student = w.studentPlayer();
        QCOMPARE(student->fichierVideo, then == "deleted" ? QString() : expected);
        QCOMPARE(student->bLecture->isEnabled(), then != "deleted");
        QCOMPARE(d.count("platform"), 0);
        QVERIFY(!QFile::exists(project + "/project.xml"));
    }

    // A video other than the one the comments were made on is asked about; the same one again is
    // not, and keeps what has played.
    void anotherStudentVideo_data() {
        QTest::addColumn<QString>("video");
        QTest::addColumn<int>("answer");    // -1: no question expected
        QTest::addColumn<QString>("after"); // the student's video and the project, once answered
        QTest::newRow("same video") << "a.avi" << -1 << "a.avi projet played";
        QTest::newRow("keep the comments") << "b.avi" << 0 << "b.avi projet rearmed";
        QTest::newRow("new project") << "b.avi" << 1 << "b.avi nouveau rearmed";
        QTest::newRow("cancelled") << "b.avi" << 2 << "a.avi projet played";
    }
    void anotherStudentVideo() {
        QFETCH(QString, video);
        QFETCH(int, answer);
        QFETCH(QString, after);
        QTemporaryDir top;
        for (const char* name : {"a.avi", "b.avi"})
            QVERIFY(testmedia::makeVideo(top.filePath(name), QStringLiteral("testsrc"), 1));
        touch(top.filePath("projet/annotation1.avi"), "x");
        touch(top.filePath("projet/project.xml"),
              "<ANNOTATION><Numero Value='1'><FramePosition Value='0'/></Numero></ANNOTATION>");
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        QVERIFY(
            testwindow::openProjectAndVideo(w, d, top.filePath("projet"), top.filePath("a.avi")));
        w.synchronisedPlayback()->markPlayed(1);
        d.choices.enqueue(answer);
        d.texts.enqueue("nouveau");
        d.directories.enqueue(top.path());
        d.files.enqueue(top.filePath(video));
        const int before = d.count("choice");
        part(w, "bOuvrirVideo")->click();
        QCOMPARE(d.count("choice") - before, answer < 0 ? 0 : 1);
        const auto asked = std::find_if(d.shown.rbegin(), d.shown.rend(),
                                        [](const auto& box) { return box.kind == "choice"; });
        if (answer >= 0)
            QVERIFY(asked->text.contains("« a.avi »") && asked->text.contains("« b.avi »"));
        const QString state = QFileInfo(w.studentPlayer()->fichierVideo).fileName() + ' ' +
                              QDir(w.session()->dir()).dirName() + ' ' +
                              (w.synchronisedPlayback()->hasPlayed(1) ? "played" : "rearmed");
        QCOMPARE(state, after);
    }

    // The projects opened last come back at the open command, a missing one shown as such and
    // offered for removal.
    void recentProjects() {
        QTemporaryDir top;
        testwindow::keepSettingsIn(top.filePath("config"));
        for (const char* name : {"a/x", "b/x"})
            touch(top.filePath(name));
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        const auto open = [&](int item, const QString& folder = QString()) {
            d.menuChoices = {}, d.directories = {}, d.choices = {};
            d.menuChoices.enqueue(item);
            d.directories.enqueue(folder);
            d.choices.enqueue(0);
            part(w, "bOuvrirProjet")->click();
            return QDir(w.session()->dir()).dirName();
        };
        QCOMPARE(open(0, top.filePath("a")), "a"); // no list yet: straight to the folder dialog
        QVERIFY(d.menus.isEmpty());
        QCOMPARE(open(0, top.filePath("b")), "b");
        QCOMPARE(d.menus.last().mid(1),
                 (QStringList{"Projets récents", QDir::toNativeSeparators(top.filePath("a"))}));
        QVERIFY(QDir(top.filePath("a")).removeRecursively());
        QCOMPARE(open(3), "b"); // a, gone: removed from the list
        QCOMPARE(d.menus.last().mid(2),
                 (QStringList{QDir::toNativeSeparators(top.filePath("b")),
                              QDir::toNativeSeparators(top.filePath("a")) + " (introuvable)"}));
        QVERIFY(d.lastText().contains("introuvable"));
        open(0, QString()); // the folder dialog cancelled
        QCOMPARE(d.menus.last().size(), 3);
        QCOMPARE(open(2), "b");
        testwindow::keepSettingsIn(dir.filePath("config"));
    }

    // The preview goes on after the export window's "Annuler" and under a real message box.
    void previewKeepsRunning() {
        QTemporaryDir top;
        QVERIFY(testmedia::makeVideo(top.filePath("élève.avi"), QStringLiteral("testsrc"), 1));
        touch(top.filePath("projet/annotation1.avi"), "x");
        auto* d = new ScriptedDialogs;
        PrincipalW w(camera);
        w.show();
        QVERIFY(testwindow::openProjectAndVideo(w, *d, top.filePath("projet"),
                                                top.filePath("élève.avi")));
        QVERIFY(part<QWidget>(w, "webcamView")->isVisible());
        part(w, "bExporter")->click();
        QVERIFY(w.exports()->settingsWindow() && w.isPreviewRunning());
        w.exports()->settingsWindow()->close();
        QVERIFY(w.isPreviewRunning());
        delete d; // the real boxes from now on
        auto* view = part<kel::QOpenCVWidget>(w, "webcamView");
        int changes = 0;
        QImage last;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (view->currentImage() != last)
                ++changes, last = view->currentImage();
            if (changes > 5)
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                    box->accept();
        });
        watch.start(20);
        kel::warn(QStringLiteral("Une boîte"));
        QVERIFY(changes > 5);
    }

    // Space plays or pauses the student's video, whichever button has the focus: it never starts
    // a recording.
    void spaceNeverRecords() {
        QTemporaryDir top;
        QVERIFY(testmedia::makeVideo(top.filePath("élève.avi"), QStringLiteral("testsrc"), 3));
        ScriptedDialogs d;
        PrincipalW w(camera);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QVERIFY(testwindow::openProjectAndVideo(w, d, top.path(), top.filePath("élève.avi")));
        QPushButton* record = part(w, "bEnregistrerAnnotation");
        QVERIFY(record->isEnabled());
        int plays = 0;
        connect(w.studentPlayer()->bLecture, &QPushButton::clicked, [&plays] { ++plays; });
        for (QPushButton* b : {record, part(w, "bOuvrirAnnotation")}) {
            b->setFocus(Qt::TabFocusReason);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            QTest::qWait(50);
        }
        QCOMPARE(plays, 2);
        QVERIFY(!w.recording()->isRecording() && d.fileDialogDirs.size() == 1);
    }

    // A larger window gives the room to both videos alike; F11 gives the whole screen to the
    // student's video, Escape brings the window back as it was.
    void windowThatGrows() {
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        w.show();
        const auto rect = [&w](const char* name) { return part<QWidget>(w, name)->geometry(); };
        kel::VideoPlayer* student = w.studentPlayer()->lecteur;
        QCOMPARE(student->geometry(), QRect(17, 65, 443, 365));
        QCOMPARE(rect("annotationPlayer"), QRect(507, 65, 443, 365));
        QCOMPARE(rect("comboAnnotations"), QRect(780, 474, 161, 21));
        w.resize(1920, 1040);
        QTRY_COMPARE(w.size(), QSize(1920, 1040));
        QVERIFY(qAbs(student->width() - rect("annotationPlayer").width()) <= 1);
        QCOMPARE(student->height(), rect("annotationPlayer").height());
        QVERIFY(student->width() > 900 && student->height() > 850);
        QVERIFY(rect("comboAnnotations").right() < 1920 &&
                rect("comboAnnotations").bottom() < 1040);
        QCOMPARE(w.studentPlayer()->bLecture->size(), QSize(31, 25));
        QCOMPARE(w.studentPlayer()->bLecture->y(), student->geometry().bottom() + 41);
        w.resize(975, 515);
        QTRY_COMPARE(student->geometry(), QRect(17, 65, 443, 365));

        part(w, "bPleinEcran")->setEnabled(true); // as once a video is open
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F11);
        QTRY_VERIFY(w.isFullScreen());
        QTRY_VERIFY(student->width() > w.width() * 9 / 10);
        QVERIFY(!part(w, "bNouveau")->isVisible() &&
                !part<QWidget>(w, "comboAnnotations")->isVisible());
        QVERIFY(w.studentPlayer()->bLecture->isVisible());
        QTest::keyClick(&w, Qt::Key_Escape);
        QTRY_VERIFY(!w.isFullScreen());
        QTRY_COMPARE(student->geometry(), QRect(17, 65, 443, 365));
        QVERIFY(part(w, "bNouveau")->isVisible() &&
                part<QWidget>(w, "comboAnnotations")->isVisible());
    }

    // A damaged file is reported once, and so is a write that fails.
    void writeProblemsAreReported() {
        touch(at("abîmé/project.xml"), "<?xml version='1.0'?>\r\r<ANNOTATION>\n <Nu");
        ScriptedDialogs d;
        PrincipalW w(QStringLiteral("/nonexistent-camera.avi"));
        d.directories << at("abîmé") << at("disparu");
        part(w, "bOuvrirProjet")->click();
        for (int n : {2, 3, 2})
            w.session()->addAnnotation(n, 0, 25);
        part(w, "bOuvrirProjet")->click();
        QVERIFY(QDir(at("disparu")).removeRecursively());
        w.session()->addAnnotation(2, 0, 25);
        const QStringList shown = boxes(d).filter(QRegularExpression("^platform: "));
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0].contains("« " + at("abîmé/project.xml") + " » est endommagé"));
        QVERIFY(shown[1].contains("Impossible d'enregistrer le fichier de projet « " +
                                  at("disparu/project.xml") + " »"));
    }
    // A file camera feeds the preview; Escape then closes the window without a question,
    // changes or not. Last: Escape ends the application.
    void fileCameraThenEscape() {
        ScriptedDialogs dialogs;
        QPointer<PrincipalW> w = new PrincipalW(camera);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->show();
        QTRY_COMPARE(part<kel::QOpenCVWidget>(*w, "webcamView")->currentImage().size(),
                     QSize(128, 48));
        QVERIFY(testmedia::writeFile(dir.filePath("annotation1.avi"), "x"));
        w->session()->open(dir.path());
        w->session()->addAnnotation(1, 0, 25);
        QTest::keyClick(w, Qt::Key_Escape);
        QCOMPARE(dialogs.shown.size(), 0);
        QTRY_VERIFY(w.isNull());
    }
};

QTEST_MAIN(TestPrincipalW)
#include "test_principalw.moc"
