#include "app/principalw.h"
#include "help/help_window.h"
#include "help/manual_view.h"
#include "playback/video_player.h"
#include "support/media.h"
#include "support/scripted_dialogs.h"
#include "support/window.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPdfBookmarkModel>
#include <QPdfDocument>
#include <QPdfPageNavigator>
#include <QPdfView>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

using namespace kel;

namespace {

// A place the outline leads to: its title, its page, its height from the page's top (points).
struct Place {
    QString title;
    int page;
    int fromTop;
};
constexpr int wheelUp = -1, wheelDown = -2;

const QList<Place> outlinePlaces{{QStringLiteral("1. Début"), 0, 60},
                                 {QStringLiteral("2. Suite"), 2, 60},
                                 {QStringLiteral("2.1 Plus bas"), 2, 420},
                                 {QStringLiteral("3. Fin"), 4, 60}};

// An A4 PDF of six pages whose outline leads to `outlinePlaces`, the third under the second. A
// black bar marks each place and nothing else is drawn, so what the view shows can be checked on
// its pixels. Objects: 1 catalog, 2 page tree, 3 outline, 4-9 pages, 10-15 their drawings, 16-19
// the titles.
bool writeOutlinedPdf(const QString& path) {
    QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R /Outlines 3 0 R >>",
        "<< /Type /Pages /Kids [4 0 R 5 0 R 6 0 R 7 0 R 8 0 R 9 0 R] /Count 6 >>",
        "<< /Type /Outlines /First 16 0 R /Last 19 0 R /Count 3 >>"};
    QList<QByteArray> drawings(6);
    for (const Place& place : outlinePlaces)
        drawings[place.page] +=
            "0 g 50 " + QByteArray::number(842 - place.fromTop - 12) + " 300 12 re f\n";
    for (int p = 0; p < 6; ++p)
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents " +
                       QByteArray::number(10 + p) + " 0 R >>";
    for (const QByteArray& drawing : drawings)
        objects << "<< /Length " + QByteArray::number(drawing.size()) + " >>\nstream\n" + drawing +
                       "endstream";
    const QList<QByteArray> links{
        "/Parent 3 0 R /Next 17 0 R",
        "/Parent 3 0 R /Prev 16 0 R /Next 19 0 R /First 18 0 R /Last 18 0 R /Count 1",
        "/Parent 17 0 R", "/Parent 3 0 R /Prev 17 0 R"};
    for (int i = 0; i < outlinePlaces.size(); ++i) {
        const Place& place = outlinePlaces[i];
        QByteArray title; // UTF-16, in hexadecimal
        for (QChar c : place.title)
            title += QByteArray::number(c.unicode(), 16).rightJustified(4, '0');
        objects << "<< /Title <FEFF" + title + "> " + links[i] + " /Dest [" +
                       QByteArray::number(4 + place.page) + " 0 R /XYZ 0 " +
                       QByteArray::number(842 - place.fromTop) + " 0] >>";
    }
    QByteArray pdf = "%PDF-1.4\n";
    QByteArray xref = "xref\n0 20\n0000000000 65535 f \n";
    for (int i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const QByteArray xrefAt = QByteArray::number(pdf.size());
    pdf += xref + "trailer\n<< /Size 20 /Root 1 0 R >>\nstartxref\n" + xrefAt + "\n%%EOF\n";
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly) && file.write(pdf) == pdf.size();
}

// The French manual's window of `help`, showing a manual of six pages whose outline is
// `outlinePlaces`.
ManualView* openManual(HelpW& help) {
    QFile::remove(QStringLiteral("KELMan.pdf"));
    if (!writeOutlinedPdf(QStringLiteral("KELMan.pdf")))
        return nullptr;
    help.bDocFr->click();
    help.frWindow->activateWindow();
    if (!QTest::qWaitForWindowActive(help.frWindow))
        return nullptr;
    return help.frContainer->findChild<ManualView*>();
}

// The height in the view's viewport of the first black row: the top of a place's bar; -1 until
// one is drawn.
int firstBarRow(const ManualView* manual) {
    const QImage shown = manual->pages()->viewport()->grab().toImage();
    for (int y = 0; y < shown.height(); ++y)
        if (qGray(shown.pixel(shown.width() / 2, y)) < 64)
            return y;
    return -1;
}

// The chapters (h2) of the manual's source in order, each with its sections (h3); what comes
// before the first chapter (the title page and its list of chapters) is left out.
QList<QPair<QString, QStringList>> sourceChapters() {
    QFile source(QStringLiteral(KEL_MANUAL_SOURCE));
    if (!source.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression heading(QStringLiteral("<h([23])[^>]*>(.*?)</h\\1>"),
                                            QRegularExpression::DotMatchesEverythingOption);
    QList<QPair<QString, QStringList>> chapters;
    for (const QRegularExpressionMatch& found :
         heading.globalMatch(QString::fromUtf8(source.readAll()))) {
        const QString title =
            QTextDocumentFragment::fromHtml(found.captured(2)).toPlainText().trimmed();
        if (found.captured(1) == QLatin1String("2"))
            chapters.append({title, {}});
        else if (!chapters.isEmpty())
            chapters.last().second.append(title);
    }
    return chapters;
}

// Whether the page that `entry` of the outline leads to shows its title where it leads: the top of
// the title's letters just below the height given.
bool titleWhereItLeads(QPdfDocument* pdf, const QModelIndex& entry) {
    const QString title = entry.data(int(QPdfBookmarkModel::Role::Title)).toString();
    const int page = entry.data(int(QPdfBookmarkModel::Role::Page)).toInt();
    const qreal y = entry.data(int(QPdfBookmarkModel::Role::Location)).toPointF().y();
    const QString text = pdf->getAllText(page).text();
    for (int at = text.indexOf(title); at >= 0; at = text.indexOf(title, at + 1)) {
        const qreal top =
            pdf->getSelectionAtIndex(page, at, title.size()).boundingRectangle().top();
        if (top >= y - 1 && top <= y + 4)
            return true;
    }
    return false;
}

// The height in the view's viewport of the first row drawn in the manual's colour of titles; -1
// while there is none.
int firstTitleRow(const ManualView* manual) {
    const QImage shown = manual->pages()->viewport()->grab().toImage();
    const QColor titles(0x1f, 0x3a, 0x5f);
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) {
            const QColor c = shown.pixelColor(x, y);
            if (qAbs(c.red() - titles.red()) + qAbs(c.green() - titles.green()) +
                    qAbs(c.blue() - titles.blue()) <
                24)
                return y;
        }
    return -1;
}

} // namespace

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
            QCOMPARE(
                help.frWindow->findChild<QToolButton*>(QStringLiteral("bAgrandir"))->isEnabled(),
                step == "built");
        }
        // It opens fitted to the width, its contents beside it; at the size the window takes on a
        // screen of usual width (the test's screen is smaller), its page near its printed size.
        const ManualView* viewer = help.frContainer->findChild<ManualView*>();
        QVERIFY(viewer->pages()->zoomMode() == QPdfView::ZoomMode::FitToWidth &&
                viewer->pages()->horizontalScrollBar()->maximum() == 0 &&
                viewer->contents()->isVisible());
        help.frWindow->resize(1200, 830);
        QTRY_VERIFY(viewer->scale() >= 0.9 &&
                    viewer->pages()->horizontalScrollBar()->maximum() == 0);
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

    // Ctrl with +, = or - (or the wheel) goes one size up or down, from the keypad as well, never
    // past the largest or smallest; Ctrl 0 fits the page to the width again. The page read stays in
    // view.
    void zoomKeys_data() {
        QTest::addColumn<qreal>("from"); // 0: fitted to the width, as it opens
        QTest::addColumn<int>("key");    // or a turn of the mouse wheel
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<qreal>("expected"); // 0: fitted to the width; -1: the size above `from`
        const int ctrl = Qt::ControlModifier, keypad = Qt::ControlModifier | Qt::KeypadModifier;
        QTest::newRow("Ctrl +") << 1.0 << int(Qt::Key_Plus) << ctrl << 1.1;
        QTest::newRow("Ctrl =") << 1.0 << int(Qt::Key_Equal) << ctrl << 1.1;
        QTest::newRow("keypad +") << 1.0 << int(Qt::Key_Plus) << keypad << 1.1;
        QTest::newRow("Ctrl -") << 1.0 << int(Qt::Key_Minus) << ctrl << 0.9;
        QTest::newRow("keypad -") << 1.0 << int(Qt::Key_Minus) << keypad << 0.9;
        QTest::newRow("+ between sizes") << 1.2 << int(Qt::Key_Plus) << ctrl << 1.25;
        QTest::newRow("- between sizes") << 1.2 << int(Qt::Key_Minus) << ctrl << 1.1;
        QTest::newRow("+ at the largest") << 4.0 << int(Qt::Key_Plus) << ctrl << 4.0;
        QTest::newRow("- at the smallest") << 0.5 << int(Qt::Key_Minus) << ctrl << 0.5;
        QTest::newRow("+ without Ctrl") << 1.0 << int(Qt::Key_Plus) << 0 << 1.0;
        QTest::newRow("+ from the width") << 0.0 << int(Qt::Key_Plus) << ctrl << -1.0;
        QTest::newRow("Ctrl 0") << 2.0 << int(Qt::Key_0) << ctrl << 0.0;
        QTest::newRow("keypad 0") << 2.0 << int(Qt::Key_0) << keypad << 0.0;
        QTest::newRow("Ctrl à, French 0") << 2.0 << int(Qt::Key_Agrave) << ctrl << 0.0;
        QTest::newRow("Ctrl wheel up") << 1.0 << wheelUp << ctrl << 1.1;
        QTest::newRow("Ctrl wheel down") << 1.0 << wheelDown << ctrl << 0.9;
        QTest::newRow("wheel without Ctrl") << 1.0 << wheelUp << 0 << 1.0;
    }
    void zoomKeys() {
        QFETCH(qreal, from);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(qreal, expected);
        HelpW help;
        ManualView* manual = openManual(help);
        QVERIFY(manual);
        QPdfView* view = manual->pages();
        if (from > 0) {
            view->setZoomFactor(from);
            view->setZoomMode(QPdfView::ZoomMode::Custom);
        }
        const qreal before = manual->scale();
        view->pageNavigator()->jump(3, {});
        if (key == wheelUp || key == wheelDown) {
            const QPoint at = view->viewport()->rect().center();
            QWheelEvent turn(at, view->viewport()->mapToGlobal(at), {},
                             {0, key == wheelUp ? 120 : -120}, Qt::NoButton,
                             Qt::KeyboardModifiers(modifiers), Qt::NoScrollPhase, false);
            QApplication::sendEvent(view->viewport(), &turn);
        } else {
            QTest::keyClick(view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        }

        auto* fit = help.frWindow->findChild<QToolButton*>(QStringLiteral("bLargeur"));
        QCOMPARE(fit->isChecked(), expected == 0);
        QCOMPARE(view->zoomMode() == QPdfView::ZoomMode::FitToWidth, expected == 0);
        if (expected > 0)
            QCOMPARE(view->zoomFactor(), expected);
        if (expected < 0)
            QVERIFY(view->zoomFactor() > before && view->zoomFactor() <= before * 1.25);
        const auto* shown = help.frWindow->findChild<QLabel*>(QStringLiteral("zoom"));
        QCOMPARE(shown->text(),
                 QStringLiteral("Zoom : %1\u00a0%").arg(qRound(manual->scale() * 100)));
        // The view tells its page anew as it moves.
        view->verticalScrollBar()->setValue(view->verticalScrollBar()->value() + 1);
        QCOMPARE(view->pageNavigator()->currentPage(), 3);
    }

    // A title of the contents shows its place at the top of the view, wherever the view was.
    void contentsLeadToTheirPlace_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("child"); // -1: the chapter itself
        QTest::addColumn<int>("place");
        QTest::newRow("first chapter") << 0 << -1 << 0;
        QTest::newRow("chapter further on") << 1 << -1 << 1;
        QTest::newRow("section low on its page") << 1 << 0 << 2;
        QTest::newRow("last chapter") << 2 << -1 << 3;
    }
    void contentsLeadToTheirPlace() {
        QFETCH(int, row);
        QFETCH(int, child);
        QFETCH(int, place);
        HelpW help;
        ManualView* manual = openManual(help);
        QVERIFY(manual && manual->contents()->isVisible());
        QTreeView* contents = manual->contents();
        QModelIndex title = contents->model()->index(row, 0);
        if (child >= 0)
            title = contents->model()->index(child, 0, title);
        QCOMPARE(title.data(int(QPdfBookmarkModel::Role::Title)).toString(),
                 outlinePlaces[place].title);

        QScrollBar* bar = manual->pages()->verticalScrollBar();
        bar->setValue(bar->maximum());
        QTest::mouseClick(contents->viewport(), Qt::LeftButton, {},
                          contents->visualRect(title).center());
        QCOMPARE(manual->pages()->pageNavigator()->currentPage(), outlinePlaces[place].page);
        const int line = manual->pages()->fontMetrics().height();
        QTRY_VERIFY(firstBarRow(manual) >= 0);
        QVERIFY2(firstBarRow(manual) <= 3 * line, qPrintable(QString::number(firstBarRow(manual))));
    }

    // The manual that ships has its chapters and their sections as its contents, each leading to
    // its page at the height of its title; a click on a chapter shows the chapter at the top of the
    // view, from before it as from after it.
    void shippedManualContents() {
        const QList<QPair<QString, QStringList>> chapters = sourceChapters();
        QVERIFY(chapters.size() >= 10);
        QFile::remove(QStringLiteral("KELMan.pdf"));
        QVERIFY(QFile::copy(QStringLiteral(KEL_MANUAL_PDF), QStringLiteral("KELMan.pdf")));
        HelpW help;
        help.bDocFr->click();
        help.frWindow->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(help.frWindow));
        auto* manual = help.frContainer->findChild<ManualView*>();
        QVERIFY(manual && manual->contents()->isVisible());
        QTreeView* contents = manual->contents();
        const QAbstractItemModel* outline = contents->model();
        QPdfDocument* pdf = manual->pages()->document();

        QCOMPARE(outline->rowCount(), chapters.size());
        for (int c = 0; c < chapters.size(); ++c) {
            const QModelIndex chapter = outline->index(c, 0);
            QCOMPARE(chapter.data(int(QPdfBookmarkModel::Role::Title)).toString(),
                     chapters[c].first);
            QCOMPARE(outline->rowCount(chapter), chapters[c].second.size());
            QVERIFY2(titleWhereItLeads(pdf, chapter), qPrintable(chapters[c].first));
            for (int s = 0; s < chapters[c].second.size(); ++s) {
                const QModelIndex section = outline->index(s, 0, chapter);
                QCOMPARE(section.data(int(QPdfBookmarkModel::Role::Title)).toString(),
                         chapters[c].second[s]);
                QVERIFY2(titleWhereItLeads(pdf, section), qPrintable(chapters[c].second[s]));
            }
        }

        QScrollBar* bar = manual->pages()->verticalScrollBar();
        const int line = manual->pages()->fontMetrics().height();
        for (int c = 0; c < chapters.size(); ++c) {
            const QModelIndex chapter = outline->index(c, 0);
            bar->setValue(c % 2 ? 0 : bar->maximum());
            contents->scrollTo(chapter);
            QTest::mouseClick(contents->viewport(), Qt::LeftButton, {},
                              contents->visualRect(chapter).center());
            // The view counts as shown the page across its upper part: the next one for a title
            // low on its page.
            const int page = chapter.data(int(QPdfBookmarkModel::Role::Page)).toInt();
            const int shown = manual->pages()->pageNavigator()->currentPage();
            QVERIFY2(shown == page || shown == page + 1, qPrintable(chapters[c].first));
            QTRY_VERIFY2(firstTitleRow(manual) >= 0 && firstTitleRow(manual) <= 3 * line,
                         qPrintable(chapters[c].first));
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
