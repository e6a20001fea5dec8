#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "project/project_session.h"
#include "recording/camera_source.h"
#include "recording/opencv_widget.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using kel::PrincipalW;

class TestPrincipalW : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    const QString noCamera = QStringLiteral("/nonexistent/camera.avi");

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    // Without a camera: the buttons of a window with no project, and one warning naming the camera.
    void startupWithoutCamera() {
        ScriptedDialogs dialogs;
        PrincipalW w(noCamera);
        for (QWidget* b :
             std::initializer_list<QWidget*>{w.bNouveau, w.bOuvrirProjet, w.bAide, w.bQuitter})
            QVERIFY(b->isEnabled());
        for (QWidget* b : std::initializer_list<QWidget*>{
                 w.bOuvrirVideo, w.bEnregistrerProjet, w.bExporter, w.bOuvrirAnnotation,
                 w.bEnregistrerAnnotation, w.bCouperDebut, w.bCouperFin, w.bSupprimerAnnotation,
                 static_cast<QWidget*>(w.comboAnnotations)})
            QVERIFY2(!b->isEnabled(), qPrintable(b->toolTip()));
        auto* sp = w.studentPlayer;
        for (QWidget* c : std::initializer_list<QWidget*>{
                 sp->bDebut, sp->bRetourRapide, sp->bTramePrecedente, sp->bLecture,
                 sp->bTrameSuivante, sp->bAvanceRapide, sp->bFin, sp->labelTemps})
            QVERIFY(!c->isEnabled());
        QCOMPARE(w.comboAnnotations->count(), 1);
        QCOMPARE(w.comboAnnotations->itemText(0), QStringLiteral("Aucune annotation"));
        for (QPushButton* b : {w.bNouveau, w.bOuvrirProjet, w.bOuvrirVideo, w.bEnregistrerProjet,
                               w.bExporter, w.bQuitter, w.bOuvrirAnnotation,
                               w.bEnregistrerAnnotation, w.bCouperDebut, w.bCouperFin})
            QVERIFY2(!b->icon().availableSizes().isEmpty(), qPrintable(b->toolTip()));
        w.show();
        QTest::qWait(200); // several preview ticks
        QCOMPARE(dialogs.count(QStringLiteral("platform")), 1);
        QCOMPARE(dialogs.shown[0].caption, QStringLiteral("KEL"));
        QCOMPARE(dialogs.shown[0].text, kel::cameraOpenFailureText(noCamera));
        QCOMPARE(dialogs.shown[0].icon, kel::Dialogs::Icon::Warning);
        QVERIFY(!w.webcamView->isVisible() && !w.webcamAvailable && w.webcamTimerId == 0);
    }

    // The question comes only after a change; "Ne pas enregistrer" undoes this session's changes
    // and nothing else; "Annuler" and a closed box leave everything as it was.
    void quitPrompt_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("hadXml");   // project.xml existed at the opening
        QTest::addColumn<QString>("steps"); // r: annotation 2 recorded, s: saved
        QTest::addColumn<bool>("asked");
        QTest::addColumn<QString>("xmlAfter"); // opened, changed or none
        QTest::addColumn<bool>("recordingKept");
        QTest::addColumn<bool>("closed");
        // clang-format off
        QTest::newRow("Enregistrer") << 0 << true << "r" << true << "changed" << true << true;
        QTest::newRow("Ne pas enregistrer") << 1 << true << "r" << true << "opened" << false << true;
        QTest::newRow("Ne pas enregistrer, no file before") << 1 << false << "r" << true << "none" << false << true;
        QTest::newRow("Annuler") << 2 << true << "r" << true << "changed" << true << false;
        QTest::newRow("box closed") << -1 << true << "r" << true << "changed" << true << false;
        QTest::newRow("no change") << 1 << true << "" << false << "opened" << false << true;
        QTest::newRow("saved") << 1 << true << "rs" << false << "changed" << true << true;
        QTest::newRow("changed after saving") << 1 << true << "srr" << true << "opened" << false << true;
        // clang-format on
    }
    void quitPrompt() {
        QFETCH(int, answer);
        QFETCH(bool, hadXml);
        QFETCH(QString, steps);
        QFETCH(bool, asked);
        QFETCH(QString, xmlAfter);
        QFETCH(bool, recordingKept);
        QFETCH(bool, closed);

        QTemporaryDir project;
        const QDir folder(project.path());
        // Written by an earlier session, in a layout this program would not write.
        const QByteArray opened = "<ANNOTATION><Numero Value='1'><FramePosition Value='250'/>"
                                  "<Type Value='1'/><CouperAnnotation ValueFin='900'/></Numero>"
                                  "</ANNOTATION>";
        auto write = [&folder](const QString& name, const QByteArray& bytes) {
            QVERIFY(testmedia::writeFile(folder.filePath(name), bytes));
        };
        write("annotation1.avi", "earlier");
        if (hadXml)
            write("project.xml", opened);

        ScriptedDialogs dialogs;
        dialogs.choices.enqueue(answer);
        QPointer<PrincipalW> w = new PrincipalW(noCamera);
        w->show();
        w->session->open(project.path());
        for (const QChar step : steps) {
            if (step == 's') {
                w->enregistrerProjet();
                continue;
            }
            const int n = w->session->numberForRecording();
            write(QStringLiteral("annotation%1.avi").arg(n), "recorded");
            w->session->addAnnotation(n, 0, 50 * n);
        }
        const QByteArray changed = testmedia::contents(folder.filePath("project.xml"));
        w->quitter();

        QCOMPARE(dialogs.count(QStringLiteral("choice")), asked ? 1 : 0);
        QCOMPARE(folder.exists("project.xml"), xmlAfter != "none");
        QCOMPARE(testmedia::contents(folder.filePath("project.xml")), xmlAfter == "opened" ? opened
                                                                      : xmlAfter == "changed"
                                                                          ? changed
                                                                          : "");
        QVERIFY(folder.exists("annotation1.avi"));
        QCOMPARE(folder.exists("annotation2.avi"), recordingKept);
        if (closed) {
            QTRY_VERIFY(w.isNull());
        } else {
            QVERIFY(w->isVisible());
            delete w;
        }
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

    // A file camera feeds the preview, mirrored; Escape then closes the window without a question,
    // changes or not. Last: Escape ends the application.
    void fileCameraThenEscape() {
        ScriptedDialogs dialogs;
        const QString camera = dir.filePath(QStringLiteral("camera.avi"));
        // Left half red, right half blue: mirrored, red must be on the right.
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i",
                                   "color=c=red:size=64x48:rate=25:duration=2[a];color=c=blue:"
                                   "size=64x48:rate=25:duration=2[b];[a][b]hstack",
                                   "-c:v", "mpeg4", "-q:v", "2", camera}));
        QPointer<PrincipalW> w = new PrincipalW(camera);
        w->setAttribute(Qt::WA_DeleteOnClose);
        w->show();
        QTRY_COMPARE(w->webcamView->currentImage().size(), QSize(128, 48));
        QVERIFY(w->webcamAvailable);
        const QImage img = w->webcamView->currentImage();
        QVERIFY(qRed(img.pixel(120, 24)) > 200 && qBlue(img.pixel(120, 24)) < 60);
        QVERIFY(qBlue(img.pixel(8, 24)) > 200 && qRed(img.pixel(8, 24)) < 60);

        QVERIFY(testmedia::writeFile(dir.filePath("annotation1.avi"), "x"));
        w->session->open(dir.path());
        w->session->addAnnotation(1, 0, 25);
        QTest::keyClick(w, Qt::Key_Escape);
        QCOMPARE(dialogs.shown.size(), 0);
        QTRY_VERIFY(w.isNull());
    }
};

QTEST_MAIN(TestPrincipalW)
#include "test_principalw.moc"
