#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "playback/video_player.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using kel::PrincipalW;

namespace {

const QString noCamera = QStringLiteral("/nonexistent-camera.avi");

// The boxes the project slots showed: the no-webcam warning of the first preview tick comes
// whenever the event loop gets to run, so it is left out.
QList<ScriptedDialogs::Shown> projectBoxes(const ScriptedDialogs& d) {
    QList<ScriptedDialogs::Shown> boxes;
    for (const auto& s : d.shown)
        if (!s.text.startsWith(QStringLiteral("Aucune webcam")))
            boxes << s;
    return boxes;
}

QStringList items(const QComboBox* combo) {
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

void touch(const QString& path, const QByteArray& content = "x") {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QByteArray threeEntries = "<?xml version='1.0' encoding='UTF-8'?>\n<ANNOTATION>\n"
                                " <Numero Value=\"1\"><FramePosition Value=\"25\"/>"
                                "<Type Value=\"0\"/></Numero>\n"
                                " <Numero Value=\"2\"><FramePosition Value=\"50\"/>"
                                "<Type Value=\"1\"/></Numero>\n"
                                " <Numero Value=\"10\"><FramePosition Value=\"75\"/>"
                                "<Type Value=\"0\"/></Numero>\n"
                                "</ANNOTATION>\n";

} // namespace

class TestProjectLifecycle : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString base; // a folder whose path has spaces, accents and quotes

    // A project folder holding annotation files `numbers` and, unless null, `projectXml`.
    QString makeProject(const QString& name, QList<int> numbers,
                        const QByteArray& projectXml = QByteArray()) {
        const QString dir = QDir(base).filePath(name);
        QDir().mkpath(dir);
        for (int n : numbers)
            touch(QDir(dir).filePath(QStringLiteral("annotation%1.avi").arg(n)));
        if (!projectXml.isNull())
            touch(QDir(dir).filePath(QStringLiteral("project.xml")), projectXml);
        return dir;
    }

    void open(PrincipalW& w, ScriptedDialogs& d, const QString& dir) {
        d.directories.enqueue(dir);
        w.on_bOuvrirProjet_clicked();
    }

private slots:
    void initTestCase() {
        QVERIFY(tmp.isValid());
        base = QDir(tmp.path()).filePath(QStringLiteral("Cours d'été \"LSF\""));
        QVERIFY(QDir().mkpath(base));
    }

    void newProject_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("locationChosen");
        QTest::addColumn<QString>("expectedBox"); // start of the box's text, empty for none
        QTest::addColumn<bool>("created");
        QTest::newRow("name cancelled") << "" << true << "" << false;
        QTest::newRow("no location")
            << "Leçon 1" << false << "Aucun emplacement n'a été sélectionné" << false;
        QTest::newRow("created") << "Leçon 1 d'Élodie" << true << "Répertoire sélectionné: \r\n"
                                 << true;
        QTest::newRow("existing folder") << "existant" << true << "Répertoire sélectionné: \r\n"
                                         << true;
        QTest::newRow("name of a file")
            << "fichier" << true << "Impossible de créer le répertoire" << false;
        QTest::newRow("name with a slash")
            << "a/b" << true << "Impossible de créer le répertoire" << false;
    }
    void newProject() {
        QFETCH(QString, name);
        QFETCH(bool, locationChosen);
        QFETCH(QString, expectedBox);
        QFETCH(bool, created);
        const QString existing = makeProject(QStringLiteral("existant"), {1, 2}, threeEntries);
        touch(QDir(base).filePath(QStringLiteral("fichier")));

        ScriptedDialogs d;
        PrincipalW w(noCamera);
        d.texts.enqueue(name);
        if (locationChosen)
            d.directories.enqueue(base);
        w.on_bNouveau_clicked();

        const auto boxes = projectBoxes(d);
        QCOMPARE(boxes.size(), expectedBox.isEmpty() ? 0 : 1);
        if (!expectedBox.isEmpty()) {
            QVERIFY2(boxes[0].text.startsWith(expectedBox), qPrintable(boxes[0].text));
            QCOMPARE(boxes[0].kind, created ? QStringLiteral("plain") : QStringLiteral("platform"));
            if (!created) {
                QCOMPARE(boxes[0].caption, QStringLiteral("KEL"));
                QCOMPARE(boxes[0].icon, kel::Dialogs::Icon::Warning);
            }
        }
        for (QPushButton* b : {w.bOuvrirVideo, w.bEnregistrerProjet, w.bExporter})
            QCOMPARE(b->isEnabled(), created);
        QVERIFY(!QFileInfo::exists(QDir(base).filePath(QStringLiteral("a"))));
        if (!created) {
            QVERIFY(w.projectDir.isEmpty());
            return;
        }
        const QString dir = QDir(base).filePath(name);
        QCOMPARE(w.projectDir, dir);
        QVERIFY(QFileInfo(dir).isDir());
        QCOMPARE(boxes[0].text, QStringLiteral("Répertoire sélectionné: \r\n") + dir);
        // A new project lists nothing, even in a folder that holds annotations.
        QCOMPARE(items(w.comboAnnotations), QStringList{QStringLiteral("Aucune annotation")});
        QVERIFY(!w.comboAnnotations->isEnabled());
        QCOMPARE(w.annotationCount, 0);
        QVERIFY(w.annotationSchedule.isEmpty());
        QCOMPARE(readAll(QDir(existing).filePath(QStringLiteral("project.xml"))), threeEntries);
    }

    void openProject_data() {
        QTest::addColumn<bool>("withProjectFile");
        QTest::addColumn<QList<int>>("schedule");
        QTest::newRow("with project.xml") << true << QList<int>{1, 25, 2, 50, 10, 75};
        QTest::newRow("without project.xml") << false << QList<int>{};
    }
    void openProject() {
        QFETCH(bool, withProjectFile);
        QFETCH(QList<int>, schedule);
        const QString dir = makeProject(withProjectFile ? QStringLiteral("avec") : "sans",
                                        {1, 2, 10}, withProjectFile ? threeEntries : QByteArray());
        touch(QDir(dir).filePath(QStringLiteral("notes.txt")));
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        open(w, d, dir);

        QCOMPARE(w.projectDir, dir);
        const auto boxes = projectBoxes(d);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].kind, QStringLiteral("plain"));
        QCOMPARE(boxes[0].text, QStringLiteral("Répertoire sélectionné: \r\n ") + dir);
        QCOMPARE(items(w.comboAnnotations),
                 (QStringList{"Annotation n°1", "Annotation n°10", "Annotation n°2"}));
        for (QWidget* b : std::initializer_list<QWidget*>{w.bOuvrirVideo, w.bEnregistrerProjet,
                                                          w.bExporter, w.comboAnnotations})
            QVERIFY(b->isEnabled());
        QCOMPARE(w.annotationCount, 3);
        QVERIFY(w.syncEnabled);
        QCOMPARE(w.annotationSchedule, schedule);
        QCOMPARE(w.highestAnnotationNumber(), 10);
        QCOMPARE(w.isPauseType(QStringLiteral("2")), withProjectFile);

        // "|<" re-arms every annotation.
        w.annotationSchedule.clear();
        kel::studentPlayer->bDebut->setEnabled(true);
        kel::studentPlayer->bDebut->click();
        QCOMPARE(w.annotationSchedule, schedule);
    }

    // Whatever belonged to the previous project goes, whichever way the project changes.
    void changingProjectResetsState_data() {
        QTest::addColumn<QString>("next"); // "empty", "cancel", "new", "other"
        QTest::newRow("folder without annotations") << "empty";
        QTest::newRow("open dialog cancelled") << "cancel";
        QTest::newRow("new project") << "new";
        QTest::newRow("another project") << "other";
    }
    void changingProjectResetsState() {
        QFETCH(QString, next);
        const QString first = makeProject(QStringLiteral("premier"), {1, 2, 10}, threeEntries);
        const QString empty = makeProject(QStringLiteral("vide"), {});
        const QString other = makeProject(QStringLiteral("autre"), {4});
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        open(w, d, first);
        const QString loaded = QDir(first).filePath(QStringLiteral("annotation12.avi"));
        w.registerAnnotation(loaded);
        w.registerAnnotation(loaded);
        QCOMPARE(items(w.comboAnnotations).count("Annotation n°12"), 1);
        QCOMPARE(w.comboAnnotations->currentIndex(), 0);
        QCOMPARE(w.currentAnnotationFile->fileName(), loaded);
        w.currentAnnotationNumber = 2;
        w.projectSaved = true;

        // A cancelled dialog must not list the working directory.
        const QString previousCwd = QDir::currentPath();
        QDir::setCurrent(first);
        if (next == "empty") {
            open(w, d, empty);
        } else if (next == "cancel") {
            open(w, d, QString());
        } else if (next == "new") {
            d.texts.enqueue(QStringLiteral("nouveau"));
            d.directories.enqueue(base);
            w.on_bNouveau_clicked();
        } else {
            open(w, d, other);
        }
        QDir::setCurrent(previousCwd);

        QVERIFY(!w.projectSaved);
        QVERIFY(!w.currentAnnotationFile);
        QCOMPARE(w.currentAnnotationNumber, 0);
        QVERIFY(w.comboAnnotations->isEnabled());
        if (next == "other") {
            QCOMPARE(w.annotationCount, 1);
            QVERIFY(w.syncEnabled);
            QCOMPARE(items(w.comboAnnotations), QStringList{"Annotation n°4"});
            QVERIFY(w.annotationSchedule.isEmpty());
            return;
        }
        QCOMPARE(w.annotationCount, 0);
        QVERIFY(!w.syncEnabled);
        QVERIFY(w.annotationSchedule.isEmpty());
        QCOMPARE(items(w.comboAnnotations),
                 next == "new" ? QStringList{"Aucune annotation"} : QStringList{});
        if (next == "cancel") {
            QVERIFY(w.projectDir.isEmpty());
            QCOMPARE(projectBoxes(d).last().text,
                     QStringLiteral("Aucun répertoire n'a été sélectionné"));
            QCOMPARE(w.highestAnnotationNumber(), 0);
            // Without a project nothing is written anywhere.
            w.annotationCount = 1;
            w.addAnnotationEntry(1);
            QVERIFY(w.annotationSchedule.isEmpty());
        }
    }

    // The position key is whole seconds of the student video counted at 25 frames per second.
    void addAnnotationEntryAtStudentPosition_data() {
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<int>("framePosition");
        QTest::newRow("10.4 s playing") << 10400 << false << 250;
        QTest::newRow("12.9 s paused") << 12900 << true << 300;
    }
    void addAnnotationEntryAtStudentPosition() {
        QFETCH(int, position);
        QFETCH(bool, paused);
        QFETCH(int, framePosition);
        const QString video = QDir(tmp.path()).filePath(QStringLiteral("élève.avi"));
        if (!QFile::exists(video))
            QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 14, 5,
                                         QStringLiteral("64x48")));
        const QString dir = makeProject(QStringLiteral("position %1").arg(position), {1, 2});
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        open(w, d, dir);
        kel::VideoPlayer* student = kel::studentPlayer->lecteur;
        student->setMuted(true);
        student->load(video);
        QTRY_VERIFY(student->totalTime() > 0);
        student->pause();
        student->seek(position);
        QTRY_COMPARE(student->currentTime(), position);

        w.studentWasPaused = paused;
        w.addAnnotationEntry(2);
        w.addAnnotationEntry(3);
        QCOMPARE(w.annotationSchedule, (QList<int>{2, framePosition, 3, framePosition}));
        QCOMPARE(w.isPauseType(QStringLiteral("3")), paused);
        // A number given again replaces its pair.
        w.addAnnotationEntry(2);
        QCOMPARE(w.annotationSchedule, (QList<int>{3, framePosition, 2, framePosition}));
        w.updateAnnotationEntry(2, 0, 700, 0);
        QVERIFY(readAll(QDir(dir).filePath("project.xml")).contains("ValueDebut=\"700\""));
        QVERIFY(projectBoxes(d).size() == 1); // the opening message only
    }

    void damagedProjectFileIsReportedAndKept() {
        const QByteArray damaged = "<?xml version='1.0' encoding='UTF-8'?>\r\r<ANNOTATION>\n <Nu";
        const QString dir = makeProject(QStringLiteral("abîmé"), {1}, damaged);
        const QString file = QDir(dir).filePath(QStringLiteral("project.xml"));
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        open(w, d, dir);
        w.addAnnotationEntry(2);
        w.updateAnnotationEntry(1, 4000, 0, 0);

        const auto boxes = projectBoxes(d);
        QCOMPARE(boxes.size(), 2); // the opening message, then one warning
        QCOMPARE(boxes[1].kind, QStringLiteral("platform"));
        QCOMPARE(boxes[1].caption, QStringLiteral("KEL"));
        QCOMPARE(boxes[1].icon, kel::Dialogs::Icon::Warning);
        QVERIFY2(boxes[1].text.contains(file) && boxes[1].text.contains("endommagé"),
                 qPrintable(boxes[1].text));
        QCOMPARE(readAll(file), damaged);
        QVERIFY(w.annotationSchedule == (QList<int>{2, 0}));
    }

    void failedWriteIsReported() {
        const QString dir = makeProject(QStringLiteral("disparu"), {1});
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        open(w, d, dir);
        QVERIFY(QDir(dir).removeRecursively());
        w.addAnnotationEntry(2);
        const auto boxes = projectBoxes(d);
        QCOMPARE(boxes.size(), 2);
        QVERIFY2(boxes[1].text.startsWith("Impossible d'enregistrer le fichier de projet"),
                 qPrintable(boxes[1].text));
    }

    void quitPromptWithProject_data() {
        QTest::addColumn<bool>("saved");
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("projectFileKept");
        QTest::newRow("saved: no question") << true << -1 << true;
        QTest::newRow("Enregistrer") << false << 0 << true;
        QTest::newRow("Ne pas enregistrer") << false << 1 << false;
    }
    void quitPromptWithProject() {
        QFETCH(bool, saved);
        QFETCH(int, choice);
        QFETCH(bool, projectFileKept);
        const QString dir =
            makeProject(QStringLiteral("quitter %1").arg(choice), {1, 2}, threeEntries);
        ScriptedDialogs d;
        QPointer<PrincipalW> w = new PrincipalW(noCamera);
        open(*w, d, dir);
        if (saved)
            w->bEnregistrerProjet->click();
        d.choices.enqueue(choice);
        w->quitter();
        QCOMPARE(d.count(QStringLiteral("choice")), saved ? 0 : 1);
        QCOMPARE(QFile::exists(QDir(dir).filePath(QStringLiteral("project.xml"))), projectFileKept);
        QVERIFY(QFile::exists(QDir(dir).filePath(QStringLiteral("annotation1.avi"))));
        QTRY_VERIFY(w.isNull());
    }
};

QTEST_MAIN(TestProjectLifecycle)
#include "test_project_lifecycle.moc"
