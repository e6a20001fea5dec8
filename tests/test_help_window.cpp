#include "app/globals.h"
#include "app/principalw.h"
#include "help/help_window.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"

#include <QApplication>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPdfView>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <optional>

using namespace kel;

namespace {

const QString missingManualText = QStringLiteral(
    "L'aide ne peut pas être affichée. \r\nLe manuel KELMan.pdf est absent ou endommagé.");

QPdfView* manualView(HelpW& help) {
    return help.frContainer ? help.frContainer->findChild<QPdfView*>() : nullptr;
}

} // namespace

// Help files are looked up beside the executable, then in the working directory: each test runs
// in an empty working directory of its own, beside an executable that has no help files.
class TestHelpWindow : public QObject {
    Q_OBJECT
private slots:
    void init() {
        QVERIFY(m_dir.emplace().isValid());
        QVERIFY(QDir::setCurrent(m_dir->path()));
        m_dialogs.emplace();
    }

    void cleanup() {
        QDir::setCurrent(QCoreApplication::applicationDirPath());
        QList<QPointer<QWidget>> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            windows << w;
        for (const auto& w : windows)
            delete w.data();
        helpWindow = nullptr;
        m_dialogs.reset();
        m_dir.reset();
    }

    void builtManualHasPages() {
        QPdfDocument manual;
        QCOMPARE(manual.load(QStringLiteral(KEL_MANUAL_PDF)), QPdfDocument::Error::None);
        QVERIFY2(manual.pageCount() >= 8, qPrintable(QString::number(manual.pageCount())));
        QVERIFY(manual.getAllText(0).text().contains(QStringLiteral("Manuel d'utilisation")));
        QVERIFY(manual.metaData(QPdfDocument::MetaDataField::Title)
                    .toString()
                    .contains(QStringLiteral("KEL")));
    }

    void frenchDocumentation_data() {
        QTest::addColumn<QByteArray>("content"); // empty: no file at all
        QTest::addColumn<bool>("readable");
        QFile built(QStringLiteral(KEL_MANUAL_PDF));
        QVERIFY(built.open(QIODevice::ReadOnly));
        const QByteArray pdf = built.readAll();
        QTest::newRow("manual present") << pdf << true;
        QTest::newRow("manual missing") << QByteArray() << false;
        QTest::newRow("manual truncated") << pdf.left(pdf.size() / 3) << false;
    }

    void frenchDocumentation() {
        QFETCH(QByteArray, content);
        QFETCH(bool, readable);
        if (!content.isEmpty()) {
            QFile f(QStringLiteral("KELMan.pdf"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        HelpW help;
        help.bDocFr->click();

        QVERIFY(help.frWindow);
        QVERIFY(help.frWindow->isVisible());
        QCOMPARE(help.frWindow->windowTitle(), QStringLiteral("Aide Français"));
        QPdfView* view = manualView(help);
        QVERIFY(view);
        QCOMPARE(view->size(), QSize(550, 740));
        if (readable) {
            QCOMPARE(m_dialogs->count(QStringLiteral("plain")), 0);
            QVERIFY(view->document()->pageCount() > 0);
        } else {
            QCOMPARE(m_dialogs->count(QStringLiteral("plain")), 1);
            QCOMPARE(m_dialogs->lastText(), missingManualText);
        }
    }

    // The one play/pause rule of both help videos.
    void toggle_data() {
        QTest::addColumn<bool>("signLanguageManual");
        QTest::newRow("presentation video") << false;
        QTest::newRow("sign-language manual") << true;
    }

    void toggle() {
        QFETCH(bool, signLanguageManual);
        const QString file =
            signLanguageManual ? QStringLiteral("MeKEL.avi") : QStringLiteral("RORiv.avi");
        QVERIFY(testmedia::makeVideo(file, QStringLiteral("testsrc"), 3));
        HelpW help;
        if (signLanguageManual)
            help.bDocLSF->click();
        VideoPlayer* player = signLanguageManual ? help.lsfPlayer : help.videoPlayer;
        QPushButton* button = signLanguageManual ? help.bPlayLSF : help.bPlay;
        const std::function<void()> toggle = [&] { button->click(); };

        // Plays at once.
        QTRY_VERIFY_WITH_TIMEOUT(player->isPlaying() && player->currentTime() > 300, 10000);
        QCOMPARE(button->text(), QStringLiteral("||"));

        // Pause, then play on from where it stood.
        toggle();
        QCOMPARE(button->text(), QStringLiteral(">"));
        QTRY_VERIFY(player->isPaused());
        const int pausedAt = player->currentTime();
        QVERIFY(pausedAt > 0);
        toggle();
        QCOMPARE(button->text(), QStringLiteral("||"));
        QTRY_VERIFY(player->isPlaying());
        QVERIFY2(player->currentTime() >= pausedAt - 100,
                 qPrintable(QStringLiteral("%1 < %2").arg(player->currentTime()).arg(pausedAt)));

        // Paused at its very end: starts again from 0.
        toggle();
        QTRY_VERIFY(player->isPaused());
        player->seek(player->totalTime());
        QTRY_COMPARE(player->currentTime(), player->totalTime());
        toggle();
        QCOMPARE(button->text(), QStringLiteral("||"));
        QTRY_VERIFY(player->isPlaying());
        QTRY_VERIFY(player->currentTime() < 1500);

        // Played to its end: waits there, and one click starts it again from 0.
        QTRY_VERIFY_WITH_TIMEOUT(button->text() == QStringLiteral(">"), 10000);
        QTRY_VERIFY(player->isPaused());
        QTRY_COMPARE(player->currentTime(), player->totalTime());
        toggle();
        QTRY_VERIFY(player->isPlaying());
        QTRY_VERIFY(player->currentTime() < 1500);
        QCOMPARE(button->text(), QStringLiteral("||"));
        QCOMPARE(m_dialogs->shown.size(), 0);
    }

    void missingVideosLeaveEmptyPlayers() {
        HelpW help;
        help.bDocLSF->click();
        QVERIFY(help.isVisible());
        QVERIFY(help.lsfWindow->isVisible());
        QTest::qWait(300);
        QVERIFY(!help.videoPlayer->isPlaying());
        QVERIFY(!help.lsfPlayer->isPlaying());
        QVERIFY(!help.bPlay->isEnabled());
        QVERIFY(!help.bPlayLSF->isEnabled());
        QCOMPARE(m_dialogs->shown.size(), 0);
    }

    void twoHelpWindowsAtOnce() {
        QVERIFY(testmedia::makeVideo(QStringLiteral("RORiv.avi"), QStringLiteral("testsrc"), 3));
        PrincipalW main(QStringLiteral("/nonexistent/camera.avi"));
        main.bAide->click();
        HelpW* first = helpWindow;
        main.bAide->click();
        HelpW* second = helpWindow;
        QVERIFY(first && second && first != second);
        QVERIFY(first->isVisible() && second->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(
            first->videoPlayer->isPlaying() && second->videoPlayer->isPlaying(), 10000);

        // Closing one leaves the other playing, and its documentation open; the closed one no
        // longer plays unseen.
        first->bDocFr->click();
        first->bFermer->click();
        QVERIFY(!first->isVisible());
        QVERIFY(first->frWindow->isVisible());
        QVERIFY(second->isVisible());
        QTRY_VERIFY(first->videoPlayer->isPaused());
        QCOMPARE(first->bPlay->text(), QStringLiteral(">"));
        QTest::qWait(200);
        QVERIFY(second->videoPlayer->isPlaying());
    }

private:
    std::optional<QTemporaryDir> m_dir;
    std::optional<ScriptedDialogs> m_dialogs;
};

QTEST_MAIN(TestHelpWindow)
#include "test_help_window.moc"
