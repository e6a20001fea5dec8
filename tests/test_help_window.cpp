#include "app/globals.h"
#include "app/principalw.h"
#include "help/help_window.h"
#include "playback/video_player.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QApplication>
#include <QPdfDocument>
#include <QPdfView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

using namespace kel;

// Help files are looked up beside the executable, then in the working directory: each test runs
// in an empty working directory of its own, beside an executable that has no help files.
class TestHelpWindow : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> m_dir;
    ScriptedDialogs m_dialogs;

private slots:
    void init() { QVERIFY(QDir::setCurrent(m_dir.emplace().path())); }
    void cleanup() {
        QDir::setCurrent(QCoreApplication::applicationDirPath());
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (const QPointer<QWidget>& w : QList<QPointer<QWidget>>(windows.begin(), windows.end()))
            delete w.data();
        m_dir.reset();
    }

    // A missing or damaged manual is reported and its window still shows; missing videos leave
    // the help silent, its controls unusable.
    void frenchManualAndMissingVideos() {
        const QString pdf = QStringLiteral("KELMan.pdf");
        const QString message = QStringLiteral("L'aide ne peut pas être affichée. \r\n"
                                               "Le manuel KELMan.pdf est absent ou endommagé.");
        HelpW help;
        for (const QString step : {"missing", "truncated", "built"}) {
            QFile::remove(pdf);
            QVERIFY(step == "missing" || QFile::copy(QStringLiteral(KEL_MANUAL_PDF), pdf));
            QVERIFY(step != "truncated" || QFile::resize(pdf, QFileInfo(pdf).size() / 3));
            m_dialogs.shown.clear();
            help.bDocFr->click();
            QVERIFY(help.frWindow->isVisible() && help.frWindow->windowTitle() == "Aide Français");
            QCOMPARE(m_dialogs.lastText(), step == "built" ? QString() : message);
            QCOMPARE(m_dialogs.shown.size(), step == "built" ? 0 : 1);
        }
        QPdfDocument* manual = help.frContainer->findChild<QPdfView*>()->document();
        QVERIFY2(manual->pageCount() >= 8, qPrintable(QString::number(manual->pageCount())));
        QVERIFY(manual->getAllText(0).text().contains(QStringLiteral("Manuel d'utilisation")));
        help.bDocLSF->click();
        QVERIFY(help.lsfWindow->isVisible() && !help.bPlay->isEnabled() &&
                !help.bPlayLSF->isEnabled());
        QVERIFY(!help.videoPlayer->isPlaying() && !help.lsfPlayer->isPlaying());
        QCOMPARE(m_dialogs.shown.size(), 0);
    }

    // Two help windows at once; each video's toggle pauses, plays on, and once played to its end,
    // which it waits at, starts again from 0.
    void twoHelpWindowsAtOnce() {
        for (const char* video : {"RORiv.avi", "MeKEL.avi"})
            QVERIFY(testmedia::makeVideo(video, QStringLiteral("testsrc"), 3));
        PrincipalW main(QStringLiteral("/nonexistent/camera.avi"));
        main.bAide->click();
        HelpW* first = helpWindow;
        main.bAide->click();
        HelpW* second = helpWindow;
        QVERIFY(first && second && first != second && first->isVisible() && second->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(
            first->videoPlayer->isPlaying() && second->videoPlayer->isPlaying(), 10000);

        // Closing one leaves the other playing and its own documentation open; the closed one no
        // longer plays unseen.
        first->bDocFr->click();
        first->bFermer->click();
        QVERIFY(!first->isVisible() && first->frWindow->isVisible() && second->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(first->videoPlayer->isPaused(), 1000); // well before its end
        QCOMPARE(first->bPlay->text(), QStringLiteral(">"));
        for (const bool lsf : {false, true}) {
            if (lsf)
                second->bDocLSF->click();
            VideoPlayer* player = lsf ? second->lsfPlayer : second->videoPlayer;
            QPushButton* button = lsf ? second->bPlayLSF : second->bPlay;
            QTRY_VERIFY_WITH_TIMEOUT(player->isPlaying() && player->currentTime() > 300, 10000);
            button->click();
            QTRY_VERIFY(player->isPaused() && button->text() == QStringLiteral(">"));
            const int pausedAt = player->currentTime();
            button->click();
            QTRY_VERIFY(player->isPlaying());
            QVERIFY(player->currentTime() >= pausedAt - 100);
            QTRY_VERIFY_WITH_TIMEOUT(player->isPaused() && button->text() == QStringLiteral(">"),
                                     10000);
            QTRY_COMPARE(player->currentTime(), player->totalTime());
            button->click();
            QTRY_VERIFY(player->isPlaying() && player->currentTime() < 1500);
            QCOMPARE(button->text(), QStringLiteral("||"));
        }
    }
};

QTEST_MAIN(TestHelpWindow)
#include "test_help_window.moc"
