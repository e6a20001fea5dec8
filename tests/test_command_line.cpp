#include <QProcess>
#include <QtTest>

// Help, version and refusals from the real program, with no display at all: the window's toolkit
// must not be reached.
class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected"); // in the standard output, or error when failing
        const QStringList help{"Utilisation :", "Options :", "--help",  "--version",
                               "--camera",      "--export",  "--video", "Affiche cette aide."};
        const QStringList version{"KEL " KEL_VERSION};
        const QStringList noScreen{"Aucun écran", "kel --export"};
        // clang-format off
        QTest::newRow("--help")         << QStringList{"--help"} << 0 << help;
        QTest::newRow("-h")             << QStringList{"-h"} << 0 << help;
        QTest::newRow("--help-all")     << QStringList{"--help-all"} << 0 << help;
        QTest::newRow("with an export") << QStringList{"--export", "/nulle/part", "--help"} << 0 << help;
        QTest::newRow("--version")      << QStringList{"--version"} << 0 << version;
        QTest::newRow("-v")             << QStringList{"-v"} << 0 << version;
        QTest::newRow("unknown option") << QStringList{"--vitesse"} << 2 << QStringList{"Option inconnue : vitesse.", "kel --help"};
        QTest::newRow("unknown option, export") << QStringList{"--export", "/nulle/part", "--vitesse"} << 2 << QStringList{"Option inconnue : vitesse.", "kel --help"};
        QTest::newRow("missing value")  << QStringList{"--camera"} << 2 << QStringList{"Valeur manquante après « --camera »"};
        QTest::newRow("no screen")      << QStringList{} << 1 << noScreen;
        QTest::newRow("toolkit option") << QStringList{"-style", "fusion"} << 1 << noScreen;
        // clang-format on
    }
    void answersWithoutDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        QProcess kel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("LANG", "C.UTF-8");
        kel.setProcessEnvironment(env);
        kel.start(KEL_EXECUTABLE, arguments);
        QVERIFY(kel.waitForFinished(30000));
        const QString out =
            QString::fromUtf8(exitCode ? kel.readAllStandardError() : kel.readAllStandardOutput());
        QVERIFY2(kel.exitStatus() == QProcess::NormalExit && kel.exitCode() == exitCode,
                 qPrintable(out));
        for (const QString& text : expected)
            QVERIFY2(out.contains(text), qPrintable(out));
        // Not a word of the toolkit's English.
        for (const char* english : {"Usage", "Displays", "Options:", "help on", "platform"})
            QVERIFY2(!out.contains(QLatin1String(english)), english);
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
