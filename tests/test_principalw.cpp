#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "recording/opencv_widget.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QComboBox>
#include <QLabel>
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

    void startupStates() {
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
        auto* sp = kel::studentPlayer;
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
    }

    void noWebcamWarnsOnce() {
        ScriptedDialogs dialogs;
        PrincipalW w(noCamera);
        w.show();
        QTest::qWait(200); // several preview ticks
        QCOMPARE(dialogs.count(QStringLiteral("platform")), 1);
        QCOMPARE(dialogs.shown[0].caption, QStringLiteral("KEL"));
        QCOMPARE(dialogs.shown[0].text, QStringLiteral("Aucune webcam n'a été détectée !"));
        QCOMPARE(dialogs.shown[0].icon, kel::Dialogs::Icon::Warning);
        QVERIFY(!w.webcamView->isVisible());
        QVERIFY(!w.webcamAvailable);
        QCOMPARE(w.webcamTimerId, 0);
    }

    void fileCameraFeedsMirroredPreview() {
        ScriptedDialogs dialogs;
        const QString camera = dir.filePath(QStringLiteral("camera.avi"));
        // Left half red, right half blue: mirrored, red must be on the right.
        QVERIFY(testmedia::ffmpeg({"-f", "lavfi", "-i",
                                   "color=c=red:size=64x48:rate=25:duration=2[a];color=c=blue:"
                                   "size=64x48:rate=25:duration=2[b];[a][b]hstack",
                                   "-c:v", "mpeg4", "-q:v", "2", camera}));
        PrincipalW w(camera);
        w.show();
        QTRY_COMPARE(w.webcamView->currentImage().size(), QSize(128, 48));
        QVERIFY(w.webcamAvailable);
        const QImage img = w.webcamView->currentImage();
        QVERIFY(qRed(img.pixel(120, 24)) > 200 && qBlue(img.pixel(120, 24)) < 60);
        QVERIFY(qBlue(img.pixel(8, 24)) > 200 && qRed(img.pixel(8, 24)) < 60);
        QCOMPARE(dialogs.shown.size(), 0);
    }

    void quitPrompt_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("annotationCount");
        QTest::addColumn<bool>("saved");
        QTest::addColumn<bool>("asked");
        QTest::addColumn<bool>("projectFileKept");
        QTest::addColumn<bool>("closed");
        QTest::newRow("Enregistrer") << 0 << 2 << false << true << true << true;
        QTest::newRow("Ne pas enregistrer") << 1 << 2 << false << true << false << true;
        QTest::newRow("Annuler") << 2 << 2 << false << true << true << false;
        QTest::newRow("box closed") << -1 << 2 << false << true << true << false;
        QTest::newRow("no annotation") << 1 << 0 << false << false << true << true;
        QTest::newRow("already saved") << 1 << 2 << true << false << true << true;
    }
    void quitPrompt() {
        QFETCH(int, answer);
        QFETCH(int, annotationCount);
        QFETCH(bool, saved);
        QFETCH(bool, asked);
        QFETCH(bool, projectFileKept);
        QFETCH(bool, closed);

        QTemporaryDir project;
        const QString xml = QDir(project.path()).filePath(QStringLiteral("project.xml"));
        const QString annotation = QDir(project.path()).filePath(QStringLiteral("annotation1.avi"));
        for (const QString& f : {xml, annotation}) {
            QFile file(f);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("x");
        }

        ScriptedDialogs dialogs;
        dialogs.choices.enqueue(answer);
        QPointer<PrincipalW> w = new PrincipalW(noCamera);
        w->show();
        w->projectDir = project.path();
        w->annotationCount = annotationCount;
        w->projectSaved = saved;
        w->quitter();

        QCOMPARE(dialogs.count(QStringLiteral("choice")), asked ? 1 : 0);
        QCOMPARE(QFile::exists(xml), projectFileKept);
        QVERIFY(QFile::exists(annotation));
        if (closed) {
            QTRY_VERIFY(w.isNull());
        } else {
            QVERIFY(w->isVisible());
            delete w;
        }
    }

    void escapeClosesWithoutPrompt() {
        ScriptedDialogs dialogs;
        auto* w = new PrincipalW(noCamera);
        w->setAttribute(Qt::WA_DeleteOnClose);
        QPointer<PrincipalW> guard = w;
        w->show();
        w->annotationCount = 2;
        QTest::keyClick(w, Qt::Key_Escape);
        QCOMPARE(dialogs.count(QStringLiteral("choice")), 0);
        QTRY_VERIFY(guard.isNull());
    }
};

QTEST_MAIN(TestPrincipalW)
#include "test_principalw.moc"
