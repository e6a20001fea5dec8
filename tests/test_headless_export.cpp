#include "export/headless_export.h"
#include "support/montage_media.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QtTest>

using kel::HeadlessExportOptions;

class TestHeadlessExport : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_project;

    QString path(const QString& name) const { return m_dir.filePath(name); }

    int run(const HeadlessExportOptions& options, QString* out, QString* err) {
        QTextStream o(out);
        QTextStream e(err);
        return kel::runHeadlessExport(options, o, e);
    }

private slots:
    void initTestCase() {
        QVERIFY(montagemedia::makeStudent(path("student.avi"), 2, "320x240"));
        m_project = path("projet élève");
        QDir().mkpath(m_project);
        QVERIFY(montagemedia::makeAnnotation(QDir(m_project).filePath("annotation1.avi"), "red", 1,
                                             "320x240"));
        QVERIFY(montagemedia::writeProject(m_project, {{1, 0}}));
        QDir().mkpath(path("empty"));
        QFile garbage(path("garbage.avi"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(5000, 'x'));
    }

    void refusals_data() {
        QTest::addColumn<QString>("project");
        QTest::addColumn<QString>("video");
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no project") << "nowhere"
                                    << "student.avi"
                                    << ""
                                    << "n'existe pas";
        QTest::newRow("no video") << ""
                                  << "missing.avi"
                                  << ""
                                  << "introuvable";
        QTest::newRow("unknown resolution") << ""
                                            << "student.avi"
                                            << "immense"
                                            << "immense";
        QTest::newRow("no annotation file") << "empty"
                                            << "student.avi"
                                            << ""
                                            << "Aucune annotation";
        QTest::newRow("undecodable video") << ""
                                           << "garbage.avi"
                                           << ""
                                           << "garbage.avi";
    }

    void refusals() {
        QFETCH(QString, project);
        QFETCH(QString, video);
        QFETCH(QString, resolution);
        QFETCH(QString, reason);
        HeadlessExportOptions options;
        options.projectDir = project.isEmpty() ? m_project : path(project);
        options.studentVideoPath = path(video);
        options.resolution = resolution;
        QString out, err;
        QVERIFY(run(options, &out, &err) != 0);
        QVERIFY(out.isEmpty());
        QVERIFY2(err.contains(reason), qPrintable(err));
        QVERIFY(!QFile::exists(QDir(m_project).filePath("VideoFinale.avi")));
    }

    void smallResolutionWithTheLargestInset() {
        HeadlessExportOptions options;
        options.projectDir = m_project;
        options.studentVideoPath = path("student.avi");
        options.resolution = "faible";
        options.inset = 99;
        QString out, err;
        QCOMPARE(run(options, &out, &err), 0);
        const QString result = QDir(m_project).filePath("VideoFinale.avi");
        QCOMPARE(out.trimmed(), result);
        QVERIFY(err.contains("100 %"));
        // The inset covers rows 115 to 238 and columns 0 to 133 of the 320 x 240 frame.
        const cv::Mat first = montagemedia::readFrames(result).first();
        QCOMPARE(first.size(), cv::Size(320, 240));
        const auto red = [&first](int x, int y) {
            const cv::Vec3b p = first.at<cv::Vec3b>(y, x);
            return p[2] > 200 && p[1] < 60 && p[0] < 60;
        };
        QVERIFY(red(2, 117) && red(131, 236) && red(60, 180));
        QVERIFY(!red(60, 112) && !red(137, 180));
        QFile srt(QDir(m_project).filePath("montage.srt"));
        QVERIFY(srt.open(QIODevice::ReadOnly));
        QCOMPARE(srt.readAll(), QByteArray("1\n00:00:00,000 --> 00:00:01,000\nAnnotation n°1\n\n"));
        QFile::remove(result);
        srt.remove();
    }

    void commandLineWithoutDisplay() {
        QProcess kel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(name);
        kel.setProcessEnvironment(env);
        kel.start(KEL_EXECUTABLE, {"--export", m_project, "--video", path("student.avi"),
                                   "--compress", "--resolution", "moyenne"});
        QVERIFY(kel.waitForFinished(120000));
        QCOMPARE(kel.exitStatus(), QProcess::NormalExit);
        QVERIFY2(kel.exitCode() == 0, kel.readAllStandardError().constData());
        const QString result = QDir(m_project).filePath("montage.avi");
        QCOMPARE(QString::fromLocal8Bit(kel.readAllStandardOutput()).trimmed(), result);
        QVERIFY(montagemedia::probe(result).contains("width=400"));

        kel.start(KEL_EXECUTABLE,
                  {"--export", m_project, "--video", path("student.avi"), "--inset", "100"});
        QVERIFY(kel.waitForFinished(30000));
        QVERIFY(kel.exitCode() != 0);
        QVERIFY(QString::fromLocal8Bit(kel.readAllStandardError()).contains("0 à 99"));
    }
};

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    TestHeadlessExport t;
    return QTest::qExec(&t, argc, argv);
}
#include "test_headless_export.moc"
