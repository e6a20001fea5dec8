#include <QProcess>
#include <QtTest>

// Help and version from the real program, with no display at all: the window's toolkit must not
// be reached.
class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void answersWithoutDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("expected"); // all in the standard output
        const QStringList help{"Utilisation :", "Options :", "--help",  "--version",
                               "--camera",      "--export",  "--video", "Affiche cette aide."};
        QTest::newRow("--help") << QStringList{"--help"} << help;
        QTest::newRow("-h") << QStringList{"-h"} << help;
        QTest::newRow("--help-all") << QStringList{"--help-all"} << help;
        QTest::newRow("with an export") << QStringList{"--export", "/nulle/part", "--help"} << help;
        QTest::newRow("--version") << QStringList{"--version"} << QStringList{"KEL " KEL_VERSION};
        QTest::newRow("-v") << QStringList{"-v"} << QStringList{"KEL " KEL_VERSION};
    }
    void answersWithoutDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, expected);
        QProcess kel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        env.insert("LANG", "C.UTF-8");
        kel.setProcessEnvironment(env);
        kel.start(KEL_EXECUTABLE, arguments);
        QVERIFY(kel.waitForFinished(30000));
        const QString out = QString::fromUtf8(kel.readAllStandardOutput());
        QVERIFY2(kel.exitStatus() == QProcess::NormalExit && kel.exitCode() == 0,
                 kel.readAllStandardError().constData());
        for (const QString& text : expected)
            QVERIFY2(out.contains(text), qPrintable(out));
        // Not a word of the toolkit's English.
        for (const char* english : {"Usage", "Displays", "Options:", "help on", "platform"})
            QVERIFY2(!out.contains(QLatin1String(english)), english);
    }
};

QTEST_MAIN(TestCommandLine)
#include "test_command_line.moc"
