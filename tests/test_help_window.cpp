#include "app/principalw.h"
#include "help/help_window.h"
#include "playback/video_player.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"
#include "support/window.h"

#include <QApplication>
#include <QLabel>
#include <QPdfDocument>
#include <QPdfView>
#include <QPushButton>
#include <QtTest>

using namespace kel;

// Help files are looked up beside the executable, then in the working directory: the tests run in
// an empty working directory, beside an executable that has no help files.
class TestHelpWindow : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    ScriptedDialogs m_dialogs;

private slots:
    void initTestCase() { QVERIFY(QDir::setCurrent(m_dir.path())); }
    void cleanup() { qDeleteAll(QApplication::topLevelWidgets()); } // all without a parent

    // A missing or damaged manual is reported and its window still shows; missing videos leave
    // the help silent, its controls unusable.
    void frenchManualAndMissingVideos() {
        const QString pdf = QStringLiteral("KELMan.pdf");
        HelpW help;
        for (const QString step : {"missing", "truncated", "built"}) {
            QFile::remove(pdf);
            QVERIFY(step == "missing" || QFile::copy(QStringLiteral(KEL_MANUAL_PDF), pdf));
            QVERIFY(step != "truncated" || QFile::resize(pdf, QFileInfo(pdf).size() / 3));
            m_dialogs.shown.clear();
            help.bDocFr->click();
            QVERIFY(help.frWindow->isVisible());
            QCOMPARE(m_dialogs.shown.size(), step == "built" ? 0 : 1);
            QVERIFY(step == "built" || m_dialogs.lastText().contains("KELMan.pdf est absent ou"));
        }
        QPdfDocument* manual = help.frContainer->findChild<QPdfView*>()->document();
        QVERIFY(manual->pageCount() >= 8 &&
                manual->getAllText(0).text().contains(QStringLiteral("Manuel d'utilisation")));
        help.bDocLSF->click();
        QVERIFY(help.lsfWindow->isVisible() && !help.bPlay->isEnabled() &&
                !help.bPlayLSF->isEnabled() && m_dialogs.shown.isEmpty());
        // Each empty player says why, where the video would be.
        for (const auto& [window, player] : {std::pair<QWidget*, QWidget*>{&help, help.videoPlayer},
                                             {help.lsfWindow, help.lsfPlayer}}) {
            const auto* notice = window->findChild<QLabel*>(QStringLiteral("videoAbsente"));
            QVERIFY(notice && notice->isVisible() && !player->isVisible());
            QVERIFY(notice->text().startsWith(QStringLiteral("Vidéo LSF non installée")));
            QCOMPARE(notice->geometry(), player->geometry());
        }
    }

    // Two help windows at once, each with its own video. A video's toggle pauses, plays on, and
    // once played to the end, which it waits at, starts again from 0 (the rule both videos share).
    void twoHelpWindowsAtOnce() {
        QVERIFY(testmedia::makeVideo("RORiv.avi", "testsrc", 5) &&
                testmedia::makeVideo("MeKEL.avi", "testsrc", 3));
        PrincipalW main(QStringLiteral("/nonexistent/camera.avi"));
        // The help window that a click on "?" opens.
        const auto opened = [&main] {
            const QWidgetList before = QApplication::topLevelWidgets();
            testwindow::part(main, "bAide")->click();
            for (QWidget* w : QApplication::topLevelWidgets())
                if (!before.contains(w) && qobject_cast<HelpW*>(w))
                    return static_cast<HelpW*>(w);
            return static_cast<HelpW*>(nullptr);
        };
        HelpW* first = opened();
        HelpW* second = opened();
        QVERIFY(first && second && first != second && first->isVisible() && second->isVisible());
        QVERIFY(!first->findChild<QLabel*>(QStringLiteral("videoAbsente")));
        QTRY_VERIFY(first->videoPlayer->isPlaying() && second->videoPlayer->isPlaying());

        // Closing one leaves the other playing and its own documentation open; the closed one no
        // longer plays unseen, well before its end.
        first->bDocFr->click();
        first->bFermer->click();
        QVERIFY(!first->isVisible() && first->frWindow->isVisible() && second->isVisible() &&
                second->videoPlayer->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(first->videoPlayer->isPaused() && first->bPlay->text() == ">",
                                 1000);
        second->bPlay->click();
        QTRY_VERIFY(second->videoPlayer->isPaused() && second->bPlay->text() == ">");

        second->bDocLSF->click();
        const auto [lsf, toggle] = std::pair{second->lsfPlayer, second->bPlayLSF};
        QTRY_VERIFY_WITH_TIMEOUT(lsf->isPlaying() && lsf->currentTime() > 300, 10000);
        toggle->click();
        QTRY_VERIFY(lsf->isPaused() && toggle->text() == ">");
        const int pausedAt = lsf->currentTime();
        toggle->click();
        QTRY_VERIFY(lsf->isPlaying());
        QVERIFY(lsf->currentTime() >= pausedAt - 100);
        QTRY_VERIFY_WITH_TIMEOUT(lsf->isPaused() && lsf->currentTime() == lsf->totalTime(), 10000);
        QCOMPARE(toggle->text(), ">");
        toggle->click();
        QTRY_VERIFY(lsf->isPlaying() && lsf->currentTime() < 1500 && toggle->text() == "||");
    }
};

QTEST_MAIN(TestHelpWindow)
#include "test_help_window.moc"
