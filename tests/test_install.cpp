#include "common/resources.h"
#include "common/version.h"
#include "support/montage_media.h"

#include <QtTest>

#include <cstdio>

// `make install` into a scratch prefix, then the installed program at work: every runtime file the
// build deploys beside the executable must be installed, and the desktop files must validate. Help,
// version and refusals from the built program with no display at all: the window's toolkit must
// not be reached.
class TestInstall : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    struct Run {
        int code = -1;
        QString out, err;
    };
    static Run run(const QString& program, const QStringList& args,
                   const QString& destdir = QString(), const QString& display = QString()) {
        QProcess p;
        QProcessEnvironment env = testmedia::withoutDisplay();
        env.insert("LANG", "C.UTF-8");
        env.insert("DESTDIR", destdir); // empty: none
        if (!display.isEmpty())
            env.insert("DISPLAY", display);
        p.setProcessEnvironment(env);
        p.start(program, args);
        const bool ended = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
        return {ended ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed(),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

private slots:
    void answersWithoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected"); // in the standard output, or error when failing
        QTest::addColumn<QString>("display");      // DISPLAY, none when empty
        // clang-format off
        QTest::newRow("--help, export too")         << QStringList{"--export", "/nulle/part", "--help"} << 0 << QStringList{"Utilisation :", "--export", "Affiche cette aide."} << QString();
        QTest::newRow("--version")                  << QStringList{"--version"} << 0 << QStringList{"KEL " KEL_VERSION} << QString();
        QTest::newRow("unknown option")             << QStringList{"--vitesse"} << 2 << QStringList{"Option inconnue : vitesse.", "kel --help"} << QString();
        QTest::newRow("missing value")              << QStringList{"--camera"} << 2 << QStringList{"Valeur manquante après « --camera »"} << QString();
        QTest::newRow("no screen, toolkit option")  << QStringList{"-style", "fusion"} << 1 << QStringList{"Aucun écran", "kel --export"} << QString();
        QTest::newRow("display nothing serves")     << QStringList{} << 1 << QStringList{"« :64999 »", "kel --export"} << ":64999";
        // clang-format on
    }
    void answersWithoutDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        QFETCH(QString, display);
        const Run kel = run(KEL_EXECUTABLE, arguments, QString(), display);
        const QString out = exitCode ? kel.err : kel.out;
        QVERIFY2(kel.code == exitCode, qPrintable(out));
        for (const QString& text : expected)
            QVERIFY2(out.contains(text), qPrintable(out));
        // Not a word of the toolkit's English.
        for (const char* english : {"Usage", "Displays", "Options:", "help on", "platform"})
            QVERIFY2(!out.contains(QLatin1String(english)), english);
    }

    // A window ended by SIGTERM (a logout, a kill) quits through its event loop, as closing it
    // would: what it runs in the background stops and cleans up.
    void windowEndedBySignal() {
        const QString camera = m_dir.filePath("camera.avi");
        QVERIFY(testmedia::makeVideo(camera, "testsrc", 2, 25, "160x120"));
        QProcess p;
        QProcessEnvironment env = testmedia::withoutDisplay();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(m_dir.path());
        p.start(KEL_EXECUTABLE, {"--camera", camera});
        QVERIFY(p.waitForStarted());
        QTest::qWait(1500);
        QCOMPARE(p.state(), QProcess::Running);
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }

    void install_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("destdir");
        QTest::newRow("prefix") << m_dir.filePath("opt/kel") << QString();
        QTest::newRow("DESTDIR") << QStringLiteral("/usr") << m_dir.filePath("stage");
    }

    void install() {
        QFETCH(QString, prefix);
        QFETCH(QString, destdir);
        const Run install =
            run(CMAKE_COMMAND, {"--install", KEL_BUILD_DIR, "--prefix", prefix}, destdir);
        QVERIFY2(install.code == 0, qPrintable(install.err));
        const QDir root(destdir + prefix);

        const QDir data(root.filePath("share/kel"));
        const QStringList deployed =
            QDir(KEL_RUNTIME_DIR).entryList({"*.png", "*.pdf"}, QDir::Files);
        QVERIFY(deployed.contains("kel.png") && deployed.contains("KELMan.pdf"));
        for (const QString& name : deployed)
            QVERIFY2(data.exists(name), qPrintable(name + " is not installed"));
        QVERIFY(root.exists("share/icons/hicolor/scalable/apps/kel.svg"));
        // This program, copied into the installed bin/, finds files as the installed kel does.
        const QString finder = root.filePath("bin/kel-find-resource");
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), finder));
        QCOMPARE(run(finder, {"--resource", "KELMan.pdf"}).out, data.filePath("KELMan.pdf"));
        QVERIFY(montagemedia::writeFile(root.filePath("bin/kel.png"), "beside"));
        QCOMPARE(run(finder, {"--resource", "kel.png"}).out, root.filePath("bin/kel.png"));
        const QList<QStringList> validators{
            {"desktop-file-validate", root.filePath("share/applications/fr.kel.kel.desktop")},
            {"appstreamcli", "validate", "--no-net",
             root.filePath("share/metainfo/fr.kel.kel.metainfo.xml")}};
        for (const QStringList& v : validators) {
            const Run check = run(v.first(), v.mid(1));
            if (check.code < 0 && QStandardPaths::findExecutable(v.first()).isEmpty())
                qWarning("%s is not installed: not checked", qPrintable(v.first()));
            else
                QVERIFY2(check.code == 0, qPrintable(check.out + check.err));
        }

        const QString project = m_dir.filePath(QTest::currentDataTag());
        QVERIFY(QDir().mkpath(project));
        QVERIFY(testmedia::makeVideo(project + "/annotation1.avi", "color=c=red", 1));
        QVERIFY(montagemedia::writeProject(project, {{1, 0}}));
        const Run kel =
            run(root.filePath("bin/kel"), {"--export", project, "--video",
                                           project + "/annotation1.avi", "--resolution", "faible"});
        QVERIFY2(kel.code == 0, qPrintable(kel.err));
        QCOMPARE(kel.out, project + "/VideoFinale.avi");
        QCOMPARE(montagemedia::firstFrame(kel.out).cols, 320);
    }
};

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--resource") == 0) // where the installed kel finds a file
        return std::puts(qPrintable(kel::resourcePath(QString::fromLocal8Bit(argv[2])))) < 0;
    TestInstall test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "test_install.moc"
