#include "project/project_file.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using kel::ProjectFile;
using Result = ProjectFile::WriteResult;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

// The children of entry `number` (the last one carrying it) as "Tag attr=value", joined by "; ".
QString entryChildren(const QString& path, int number) {
    QDomDocument doc;
    if (!doc.setContent(readAll(path)))
        return QStringLiteral("<unparsable>");
    QDomElement entry;
    for (QDomElement e = doc.documentElement().firstChildElement(QStringLiteral("Numero"));
         !e.isNull(); e = e.nextSiblingElement(QStringLiteral("Numero")))
        if (e.attribute(QStringLiteral("Value")).toInt() == number)
            entry = e;
    QStringList parts;
    for (QDomElement c = entry.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        QString part = c.tagName();
        const QDomNamedNodeMap attributes = c.attributes();
        for (int i = 0; i < attributes.count(); ++i)
            part += QStringLiteral(" %1=%2").arg(attributes.item(i).nodeName(),
                                                 attributes.item(i).nodeValue());
        parts << part;
    }
    return parts.join(QStringLiteral("; "));
}

// The readers over whatever the file holds: no crash, and a schedule of whole pairs, one per
// number.
void checkReaders(const ProjectFile& file) {
    const QList<int> schedule = file.loadAnnotationSchedule();
    QCOMPARE(schedule.size() % 2, 0);
    QSet<int> numbers;
    for (int i = 0; i < schedule.size(); i += 2) {
        QVERIFY2(!numbers.contains(schedule[i]), "a number scheduled twice");
        numbers.insert(schedule[i]);
    }
    for (const int n : {0, 1, 2, -1}) {
        file.isPauseType(QString::number(n));
        QVERIFY(std::isfinite(file.readCutStart(n)));
        QVERIFY(std::isfinite(file.readCutEnd(n)));
    }
    if (file.isDamaged())
        QVERIFY(schedule.isEmpty());
}

struct Update {
    double duration, cutStart, cutEnd;
};

} // namespace

Q_DECLARE_METATYPE(QList<Update>)

class TestProjectFile : public QObject {
    Q_OBJECT
private slots:
    // The project of the documented example, written through its four operations.
    void documentedExampleByteForByte() {
        QTemporaryDir tmp;
        ProjectFile file(tmp.path());
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
        QCOMPARE(readAll(file.path()), QByteArray("<?xml version='1.0' encoding='UTF-8'?>\r\r"
                                                  "<ANNOTATION>\n"
                                                  " <Numero Value=\"1\">\n"
                                                  "  <FramePosition Value=\"250\"/>\n"
                                                  "  <Type Value=\"0\"/>\n"
                                                  " </Numero>\n"
                                                  "</ANNOTATION>\n"));
        QCOMPARE(file.updateAnnotationEntry(1, 4040, 0, 0), Result::Written);
        QCOMPARE(file.updateAnnotationEntry(1, 0, 1200, 0), Result::Written);
        QCOMPARE(file.writeAnnotationEntry(2, 1, 1500), Result::Written);
        QCOMPARE(readAll(file.path()), QByteArray("<?xml version='1.0' encoding='UTF-8'?>\n"
                                                  "<ANNOTATION>\n"
                                                  " <Numero Value=\"1\">\n"
                                                  "  <FramePosition Value=\"250\"/>\n"
                                                  "  <Type Value=\"0\"/>\n"
                                                  "  <Duree Value=\"4040\"/>\n"
                                                  "  <CouperAnnotation ValueDebut=\"1200\"/>\n"
                                                  " </Numero>\n"
                                                  " <Numero Value=\"2\">\n"
                                                  "  <FramePosition Value=\"1500\"/>\n"
                                                  "  <Type Value=\"1\"/>\n"
                                                  " </Numero>\n"
                                                  "</ANNOTATION>\n"));
        QCOMPARE(file.loadAnnotationSchedule(), (QList<int>{1, 250, 2, 1500}));
        QVERIFY(!file.isPauseType(QStringLiteral("1")));
        QVERIFY(file.isPauseType(QStringLiteral("2")));
        QCOMPARE(file.readCutStart(1), 1200.0);
        QCOMPARE(file.readCutEnd(1), 0.0);
    }

    void updateRules_data() {
        QTest::addColumn<QList<Update>>("updates");
        QTest::addColumn<QString>("children");
        QTest::addColumn<double>("cutStart");
        QTest::addColumn<double>("cutEnd");
        const QString base = QStringLiteral("FramePosition Value=250; Type Value=0");
        auto row = [&](const char* name, QList<Update> updates, const QString& added, double s,
                       double e) {
            QTest::newRow(name) << updates << (added.isEmpty() ? base : base + "; " + added) << s
                                << e;
        };
        row("duration", {{4040, 0, 0}}, "Duree Value=4040", 0, 0);
        row("second duration replaces", {{4040, 0, 0}, {5000, 0, 0}}, "Duree Value=5000", 0, 0);
        row("zero duration writes nothing", {{0, 0, 0}}, "", 0, 0);
        row("cut at 0 writes nothing", {{0, 0, -0.0}}, "", 0, 0);
        row("negative cut writes nothing", {{0, -300, 0}}, "", 0, 0);
        row("start cut", {{0, 1200, 0}}, "CouperAnnotation ValueDebut=1200", 1200, 0);
        row("second start cut replaces", {{0, 1200, 0}, {0, 1500, 0}},
            "CouperAnnotation ValueDebut=1500", 1500, 0);
        row("end then start", {{0, 0, 3000}, {0, 1200, 0}},
            "CouperAnnotation ValueFin=3000; CouperAnnotation ValueDebut=1200", 1200, 3000);
        row("start then end", {{0, 1200, 0}, {0, 0, 3000}},
            "CouperAnnotation ValueDebut=1200; CouperAnnotation ValueFin=3000", 1200, 3000);
        row("second end cut replaces its own", {{0, 1200, 0}, {0, 0, 3000}, {0, 0, 2500}},
            "CouperAnnotation ValueDebut=1200; CouperAnnotation ValueFin=2500", 1200, 2500);
        row("duration after a cut goes last", {{0, 1200, 0}, {4040, 0, 0}},
            "CouperAnnotation ValueDebut=1200; Duree Value=4040", 1200, 0);
        row("replaced duration goes last", {{4040, 0, 0}, {0, 1200, 0}, {4100, 0, 0}},
            "CouperAnnotation ValueDebut=1200; Duree Value=4100", 1200, 0);
        row("both cuts at once keep the end", {{0, 1200, 3000}}, "CouperAnnotation ValueFin=3000",
            0, 3000);
        row("fractional milliseconds", {{0, 1234.5, 0}}, "CouperAnnotation ValueDebut=1234.5",
            1234.5, 0);
        row("large value without exponent", {{1e21, 0, 0}}, "Duree Value=1000000000000000000000", 0,
            0);
        row("not a number writes nothing", {{qQNaN(), 0, 0}, {0, qInf(), 0}}, "", 0, 0);
    }
    void updateRules() {
        QFETCH(QList<Update>, updates);
        QFETCH(QString, children);
        QFETCH(double, cutStart);
        QFETCH(double, cutEnd);
        QTemporaryDir tmp;
        ProjectFile file(tmp.path());
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
        QCOMPARE(file.writeAnnotationEntry(2, 0, 500), Result::Written);
        for (const Update& u : updates) {
            const QByteArray before = readAll(file.path());
            const Result r = file.updateAnnotationEntry(1, u.duration, u.cutStart, u.cutEnd);
            QVERIFY(r == Result::Written || r == Result::NoChange);
            if (r == Result::NoChange)
                QCOMPARE(readAll(file.path()), before);
        }
        QCOMPARE(entryChildren(file.path(), 1), children);
        QCOMPARE(entryChildren(file.path(), 2),
                 QStringLiteral("FramePosition Value=500; Type Value=0"));
        QCOMPARE(file.readCutStart(1), cutStart);
        QCOMPARE(file.readCutEnd(1), cutEnd);
        QCOMPARE(file.readCutStart(2), 0.0);
    }

    void annotationNumber_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("text");
        QTest::newRow("one digit") << "annotation3.avi" << 3 << "3";
        QTest::newRow("past nine") << "annotation10.avi" << 10 << "10";
        QTest::newRow("leading digits") << "annotation7b.avi" << 7 << "7b";
        QTest::newRow("no digits") << "annotationX.avi" << 0 << "X";
        QTest::newRow("no number") << "annotation.avi" << 0 << "";
        QTest::newRow("too short") << "annotation5" << 0 << "";
        QTest::newRow("beyond int") << "annotation99999999999.avi" << 0 << "99999999999";
        QTest::newRow("full path") << "/tmp/d'été/annotation12.avi" << 12 << "12";
    }
    void annotationNumber() {
        QFETCH(QString, name);
        QFETCH(int, number);
        QFETCH(QString, text);
        QCOMPARE(ProjectFile::annotationNumber(name), number);
        QCOMPARE(ProjectFile::annotationNumberText(name), text);
    }

    void numberingPastNine() {
        QTemporaryDir tmp;
        for (const int n : {1, 2, 9, 10})
            writeAll(QDir(tmp.path()).filePath(ProjectFile::annotationFileName(n)), "x");
        writeAll(QDir(tmp.path()).filePath(QStringLiteral("video.avi")), "x");
        QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("annotation50.avi")));
        QCOMPARE(ProjectFile::annotationFileName(10), QStringLiteral("annotation10.avi"));
        QCOMPARE(ProjectFile::listAnnotationFiles(tmp.path()),
                 (QStringList{"annotation1.avi", "annotation10.avi", "annotation2.avi",
                              "annotation9.avi"}));
        QCOMPARE(ProjectFile::highestAnnotationNumber(tmp.path()), 10);
    }

    void withoutProjectFileNothingIsScheduled() {
        QTemporaryDir tmp;
        writeAll(QDir(tmp.path()).filePath(QStringLiteral("annotation1.avi")), "x");
        ProjectFile file(tmp.path());
        QCOMPARE(ProjectFile::listAnnotationFiles(tmp.path()).size(), 1);
        QVERIFY(file.loadAnnotationSchedule().isEmpty());
        QVERIFY(!file.isPauseType(QStringLiteral("1")));
        QCOMPARE(file.readCutStart(1), 0.0);
        QVERIFY(!file.isDamaged());
        QCOMPARE(file.updateAnnotationEntry(1, 4040, 0, 0), Result::NoChange);
        QVERIFY(!QFile::exists(file.path()));
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
        const QByteArray before = readAll(file.path());
        QCOMPARE(file.updateAnnotationEntry(7, 4040, 0, 0), Result::NoChange);
        QCOMPARE(readAll(file.path()), before);
    }

    void damagedFileIsKept_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("truncated") << QByteArray("<?xml version='1.0' encoding='UTF-8'?>\r\r"
                                                 "<ANNOTATION>\n <Numero Value=\"1\">\n  <Frame");
        QTest::newRow("not xml") << QByteArray("annotation 1 at 250\n");
        QTest::newRow("declaration only") << QByteArray("<?xml version='1.0'?>\n");
        QTest::newRow("binary") << QByteArray("\x00\xff\xfe<A", 5);
    }
    void damagedFileIsKept() {
        QFETCH(QByteArray, content);
        QTemporaryDir tmp;
        ProjectFile file(tmp.path());
        writeAll(file.path(), content);
        QVERIFY(file.isDamaged());
        QCOMPARE(file.writeAnnotationEntry(2, 0, 500), Result::Damaged);
        QCOMPARE(file.updateAnnotationEntry(1, 4040, 0, 0), Result::Damaged);
        QCOMPARE(readAll(file.path()), content);
        QVERIFY(file.loadAnnotationSchedule().isEmpty());
        QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"project.xml"});
    }

    void blankFileCountsAsEmpty() {
        QTemporaryDir tmp;
        ProjectFile file(tmp.path());
        writeAll(file.path(), " \r\n");
        QVERIFY(!file.isDamaged());
        QCOMPARE(file.writeAnnotationEntry(1, 1, 25), Result::Written);
        QVERIFY(readAll(file.path()).startsWith("<?xml version='1.0' encoding='UTF-8'?>\r\r<"));
        QCOMPARE(file.loadAnnotationSchedule(), (QList<int>{1, 25}));
    }

    void declaredEncodingIsKept() {
        QTemporaryDir tmp;
        ProjectFile file(tmp.path());
        writeAll(file.path(), "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
                              "<!-- Le\xe7on d'\xe9t\xe9 -->\n<ANNOTATION/>\n");
        QCOMPARE(file.writeAnnotationEntry(1, 0, 25), Result::Written);
        const QByteArray written = readAll(file.path());
        QVERIFY2(written.contains("Le\xe7on d'\xe9t\xe9"), written.constData());
        QCOMPARE(file.loadAnnotationSchedule(), (QList<int>{1, 25}));
    }

    // Annotation 3 was deleted and its number given again: the newest entry is annotation 3.
    void repeatedNumberCountsAsItsLastEntry() {
        QTemporaryDir tmp;
        ProjectFile file(tmp.path());
        writeAll(file.path(), "<?xml version='1.0' encoding='UTF-8'?>\n<ANNOTATION>\n"
                              " <Numero Value=\"3\"><FramePosition Value=\"250\"/>"
                              "<Type Value=\"1\"/><CouperAnnotation ValueDebut=\"500\"/>"
                              "<CouperAnnotation ValueFin=\"900\"/></Numero>\n"
                              " <Numero Value=\"4\"><FramePosition Value=\"500\"/>"
                              "<Type Value=\"0\"/></Numero>\n"
                              "</ANNOTATION>\n");
        QCOMPARE(file.writeAnnotationEntry(3, 0, 750), Result::Written);
        QCOMPARE(file.loadAnnotationSchedule(), (QList<int>{4, 500, 3, 750}));
        QVERIFY(!file.isPauseType(QStringLiteral("3")));
        QCOMPARE(file.readCutStart(3), 0.0);
        QCOMPARE(file.readCutEnd(3), 0.0);

        QCOMPARE(file.updateAnnotationEntry(3, 0, 1200, 0), Result::Written);
        QCOMPARE(file.readCutStart(3), 1200.0);
        QCOMPARE(entryChildren(file.path(), 3),
                 QStringLiteral("FramePosition Value=750; Type Value=0; "
                                "CouperAnnotation ValueDebut=1200"));
        // The old entry keeps its values.
        QVERIFY(readAll(file.path()).contains("ValueDebut=\"500\""));
    }

    void failedWriteKeepsPreviousFile_data() {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("disk full") << "full";
        QTest::newRow("project.xml is a directory") << "directory";
        QTest::newRow("project directory is a file") << "file";
    }
    void failedWriteKeepsPreviousFile() {
        QFETCH(QString, obstacle);
        QTemporaryDir tmp;
        ProjectFile file(tmp.path());
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
        const QByteArray before = readAll(file.path());
        Result r;
        if (obstacle == "full") {
            // A file size limit makes the write fail for root as a full disk would.
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit previous;
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
            rlimit small = previous;
            small.rlim_cur = rlim_t(before.size() + 16);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
            r = file.writeAnnotationEntry(2, 1, 1500);
            const Result update = file.updateAnnotationEntry(1, 4040, 1200, 0);
            setrlimit(RLIMIT_FSIZE, &previous);
            QCOMPARE(update, Result::Failed);
        } else if (obstacle == "directory") {
            QVERIFY(QFile::remove(file.path()));
            QVERIFY(QDir(tmp.path()).mkdir(QStringLiteral("project.xml")));
            r = file.writeAnnotationEntry(2, 1, 1500);
            QVERIFY(QFileInfo(file.path()).isDir());
        } else {
            r = ProjectFile(file.path()).writeAnnotationEntry(2, 1, 1500);
        }
        QCOMPARE(r, Result::Failed);
        if (obstacle != "directory") {
            QCOMPARE(readAll(file.path()), before);
            QCOMPARE(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden),
                     QStringList{"project.xml"});
        }
    }

    // Every input the fuzzer kept, through the readers and a write.
    void fuzzSeeds() {
        const QDir corpus(QStringLiteral(KEL_FUZZ_CORPUS));
        const QStringList seeds = corpus.entryList(QDir::Files);
        QVERIFY(!seeds.isEmpty());
        for (const QString& seed : seeds) {
            QTemporaryDir tmp;
            ProjectFile file(tmp.path());
            const QByteArray content = readAll(corpus.filePath(seed));
            writeAll(file.path(), content);
            checkReaders(file);
            const bool damaged = file.isDamaged();
            const Result r = file.writeAnnotationEntry(42, 1, 1050);
            QCOMPARE(r, damaged ? Result::Damaged : Result::Written);
            if (damaged) {
                QCOMPARE(readAll(file.path()), content);
            } else {
                QVERIFY(file.loadAnnotationSchedule().contains(42));
                QVERIFY(file.isPauseType(QStringLiteral("42")));
            }
            checkReaders(file);
        }
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "test_project_file.moc"
