#include "project/project_file.h"
#include "support/media.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using kel::ProjectFile;
using Result = ProjectFile::WriteResult;

using testmedia::contents;

// The children of the last entry `number`, shortened: "FramePosition=250 Type=0 Debut=1200".
static QString entry(const QByteArray& xml, int number) {
    QString text = QString::fromUtf8(xml).simplified().remove(QRegularExpression("<|/>|\""));
    text.replace(QStringLiteral("CouperAnnotation Value"), "").replace(" Value=", "=");
    return text.section(QStringLiteral("Numero=%1> ").arg(number), -1).section(" /Numero>", 0, 0);
}

class TestProjectFile : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> tmp;
    ProjectFile file{QString()};
    QByteArray bytes() const { return contents(file.path()); }

private slots:
    void init() { file = ProjectFile(tmp.emplace().path()); }

    void documentedExampleByteForByte() {
        QCOMPARE(file.updateAnnotationEntry(1, 4040, 0, 0), Result::NoChange);
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
        QCOMPARE(bytes(), QByteArray("<?xml version='1.0' encoding='UTF-8'?>\r\r<ANNOTATION>\n"
                                     " <Numero Value=\"1\">\n  <FramePosition Value=\"250\"/>\n"
                                     "  <Type Value=\"0\"/>\n </Numero>\n</ANNOTATION>\n"));
        QCOMPARE(file.updateAnnotationEntry(1, 4040, 0, 0), Result::Written);
        QCOMPARE(file.updateAnnotationEntry(1, 0, 1200, 0), Result::Written);
        QCOMPARE(file.writeAnnotationEntry(2, 1, 1500), Result::Written);
        QCOMPARE(bytes(), QByteArray("<?xml version='1.0' encoding='UTF-8'?>\n<ANNOTATION>\n"
                                     " <Numero Value=\"1\">\n  <FramePosition Value=\"250\"/>\n"
                                     "  <Type Value=\"0\"/>\n  <Duree Value=\"4040\"/>\n"
                                     "  <CouperAnnotation ValueDebut=\"1200\"/>\n </Numero>\n"
                                     " <Numero Value=\"2\">\n  <FramePosition Value=\"1500\"/>\n"
                                     "  <Type Value=\"1\"/>\n </Numero>\n</ANNOTATION>\n"));
    }

    // Updates of entry 1 of two, each written, or all refused when none is added.
    void updateRules_data() {
        QTest::addColumn<QList<QList<double>>>("updates"); // duration, cut start, cut end
        QTest::addColumn<QString>("added");
        QTest::addColumn<QString>("cuts"); // what the readers find: start, end
        // clang-format off
        QTest::newRow("start replaces start") << QList<QList<double>>{{0, 1200, 0}, {0, 1234.5, 0}} << "Debut=1234.5" << "1234.5 0";
        QTest::newRow("end then start") << QList<QList<double>>{{0, 0, 3000}, {0, 1200, 0}} << "Fin=3000 Debut=1200" << "1200 3000";
        QTest::newRow("end again") << QList<QList<double>>{{0, 12, 0}, {0, 0, 3000}, {0, 0, 2500}} << "Debut=12 Fin=2500" << "12 2500";
        QTest::newRow("duration again") << QList<QList<double>>{{4040, 0, 0}, {0, 12, 0}, {41, 0, 0}} << "Debut=12 Duree=41" << "12 0";
        QTest::newRow("both cuts keep the end") << QList<QList<double>>{{0, 1200, 3000}} << "Fin=3000" << "0 3000";
        QTest::newRow("not positive") << QList<QList<double>>{{0, 0, -0.0}, {0, -300, 0}, {qQNaN(), 0, 0}, {0, qInf(), 0}} << "" << "0 0";
        // clang-format on
    }
    void updateRules() {
        QFETCH(QList<QList<double>>, updates);
        QFETCH(QString, added);
        QFETCH(QString, cuts);
        file.writeAnnotationEntry(1, 0, 250);
        file.writeAnnotationEntry(2, 0, 500);
        for (const QList<double>& u : updates)
            QCOMPARE(file.updateAnnotationEntry(1, u[0], u[1], u[2]),
                     added.isEmpty() ? Result::NoChange : Result::Written);
        QCOMPARE(entry(bytes(), 1), ("FramePosition=250 Type=0 " + added).trimmed());
        QCOMPARE(entry(bytes(), 2), QStringLiteral("FramePosition=500 Type=0"));
        QCOMPARE(QStringLiteral("%1 %2").arg(file.readCutStart(1)).arg(file.readCutEnd(1)), cuts);
    }

    // Whatever a project directory holds as project.xml, including every input the fuzzer kept:
    // the readers cope, and a damaged file is kept byte for byte.
    void existingContent_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("damaged");        // -1: either
        QTest::addColumn<QByteArray>("written"); // part of the file once written
        // clang-format off
        QTest::newRow("blank") << QByteArray(" \r\n") << 0 << QByteArray("'UTF-8'?>\r\r<ANNOTATION>");
        QTest::newRow("latin-1") << QByteArray("<?xml version='1.0' encoding='ISO-8859-1'?><ANNOTATION a='\xe9t\xe9'/>") << 0 << QByteArray("\"\xe9t\xe9\"");
        QTest::newRow("windows-1252") << QByteArray("<?xml version='1.0' encoding='windows-1252'?><ANNOTATION a='\xe9t\xe9 \x80'/>") << 0 << QByteArray("encoding='UTF-8'?>\n<ANNOTATION a=\"\xc3\xa9t\xc3\xa9 \xe2\x82\xac\"");
        QTest::newRow("ISO-8859-15") << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-15\"?><ANNOTATION a='\xe9t\xe9 \xa4'/>") << 0 << QByteArray("encoding='UTF-8'?>\n<ANNOTATION a=\"\xc3\xa9t\xc3\xa9 \xe2\x82\xac\"");
        QTest::newRow("truncated") << QByteArray("<?xml version='1.0'?><ANNOTATION><Numero Val") << 1 << QByteArray();
        // clang-format on
        const QDir corpus(QStringLiteral(KEL_FUZZ_CORPUS));
        QVERIFY(!corpus.isEmpty());
        for (const QString& seed : corpus.entryList(QDir::Files))
            QTest::newRow(qPrintable(seed))
                << contents(corpus.filePath(seed)) << -1 << QByteArray();
    }
    void existingContent() {
        QFETCH(QByteArray, content);
        QFETCH(int, damaged);
        QFETCH(QByteArray, written);
        QFile f(file.path());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush());
        QVERIFY(damaged < 0 || file.isDamaged() == bool(damaged));
        damaged = file.isDamaged();
        QVERIFY(std::isfinite(file.readCutStart(1) + file.readCutEnd(1) + file.readCutEnd(3)));
        QCOMPARE(file.loadAnnotationSchedule().size() % 2, 0);
        const Result done = damaged ? Result::Damaged : Result::Written;
        QCOMPARE(file.updateAnnotationEntry(4242, 4040, 0, 0), damaged ? done : Result::NoChange);
        QCOMPARE(file.writeAnnotationEntry(4242, 1, 1050), done);
        QVERIFY2(damaged ? bytes() == content : bytes().contains(written), bytes().constData());
        QCOMPARE(file.updateAnnotationEntry(4242, 4040, 0, 0), done);
        QCOMPARE(file.loadAnnotationSchedule().endsWith(1050), !damaged);
    }

    // Annotation 3 was deleted and its number given again: the newest entry is annotation 3.
    void repeatedNumberCountsAsItsLastEntry() {
        file.writeAnnotationEntry(3, 1, 250);
        file.updateAnnotationEntry(3, 0, 0, 900);
        file.writeAnnotationEntry(4, 0, 500);
        QCOMPARE(file.writeAnnotationEntry(3, 0, 750), Result::Written);
        QCOMPARE(file.loadAnnotationSchedule(), (QList<int>{4, 500, 3, 750}));
        QVERIFY(file.read().entries.last().type == 0 && file.readCutEnd(3) == 0);
        QCOMPARE(file.updateAnnotationEntry(3, 0, 1200, 0), Result::Written);
        QCOMPARE(entry(bytes(), 3), QStringLiteral("FramePosition=750 Type=0 Debut=1200"));
    }

    void failedWriteKeepsPreviousFile() {
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
        const QByteArray before = bytes();
        // A file size limit makes the write fail for root as a full disk would.
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit previous;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const rlimit small{rlim_t(before.size() + 16), previous.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const Result result = file.writeAnnotationEntry(2, 1, 1500);
        setrlimit(RLIMIT_FSIZE, &previous);
        QCOMPARE(result, Result::Failed);
        QCOMPARE(bytes(), before);
        QCOMPARE(QDir(tmp->path()).entryList(QDir::Files | QDir::Hidden), {"project.xml"});
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "test_project_file.moc"
