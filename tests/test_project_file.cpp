#include "project/project_file.h"
#include "project/project_session.h"
#include "support/media.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using kel::ProjectFile;
using kel::ProjectSession;
using Result = ProjectFile::WriteResult;

using testmedia::contents;
using testmedia::touch;

// The children of the last entry `number`, shortened: "FramePosition=250 Type=0 Debut=1200".
static QString entry(const QByteArray& xml, int number) {
    QString text = QString::fromUtf8(xml).simplified().remove(QRegularExpression("<|/>|\""));
    text.replace(QStringLiteral("CouperAnnotation Value"), "").replace(" Value=", "=");
    return text.section(QStringLiteral("Numero=%1> ").arg(number), -1).section(" /Numero>", 0, 0);
}

static QString numbers(const ProjectSession& s) {
    QStringList list;
    for (const kel::SessionAnnotation& a : s.annotations())
        list << QString::number(a.number) + (a.hasEntry ? "" : "?");
    return list.join(' ');
}

// The project file as others read it, and the session that owns it for the window.
class TestProjectFile : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> tmp;
    ProjectFile file{QString()};
    QByteArray bytes() const { return contents(file.path()); }
    QString at(const QString& name) const { return tmp->filePath(name); }

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
        touch(file.path(), content);
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

    // One rule decides what is an annotation file, and a new number never names an existing file.
    void fileNameRule() {
        for (const char* name :
             {"annotation1.avi", "annotation10.avi", "Annotation5.avi", "annotation05.avi",
              "annotation6.AVI", "annotation7b.avi", "annotation2.avi.bak", "annotation11.avi",
              "annotation2147483647.avi"})
            touch(at(name), "x");
        QVERIFY(QDir(tmp->path()).mkdir("annotation12.avi"));
        QFile::remove(at("annotation11.avi"));
        QVERIFY(QFile::link(at("annotation1.avi"), at("annotation11.avi")));
        ProjectSession s;
        s.open(tmp->path());
        QCOMPARE(numbers(s), QStringLiteral("1? 10? 11?"));
        QCOMPARE(s.numberForCopy(), 13);
        QCOMPARE(s.numberForRecording(), 4);
        touch(at("annotation4.avi"), "x");
        QCOMPARE(s.numberForRecording(), 13);
    }

    // Which annotation starts by itself at a position of the student's video.
    void dueAnnotation_data() {
        QTest::addColumn<qint64>("positionMs");
        QTest::addColumn<QList<int>>("played");
        QTest::addColumn<int>("due");
        // Entries: 1 at 0 s, 2 at 3 s, 3 at 3 s, 4 at 5 s (no file), 5 at 3 s then at 7 s.
        QTest::newRow("first second never") << qint64(400) << QList<int>{} << 0;
        QTest::newRow("whole second") << qint64(3999) << QList<int>{} << 2;
        QTest::newRow("same second, next") << qint64(3000) << QList<int>{2} << 3;
        QTest::newRow("file missing") << qint64(5200) << QList<int>{} << 0;
        QTest::newRow("number given again") << qint64(7000) << QList<int>{} << 5;
    }
    void dueAnnotation() {
        QFETCH(qint64, positionMs);
        QFETCH(QList<int>, played);
        QFETCH(int, due);
        touch(at("project.xml"),
              "<ANNOTATION><Numero Value='1'><FramePosition Value='0'/></Numero>"
              "<Numero Value='2'><FramePosition Value='75'/></Numero>"
              "<Numero Value='5'><FramePosition Value='75'/></Numero>"
              "<Numero Value='3'><FramePosition Value='75'/></Numero>"
              "<Numero Value='4'><FramePosition Value='125'/></Numero>"
              "<Numero Value='5'><FramePosition Value='175'/></Numero></ANNOTATION>");
        for (int n : {1, 2, 3, 5})
            touch(at(QStringLiteral("annotation%1.avi").arg(n)), "x");
        ProjectSession s;
        s.open(tmp->path());
        for (int n : played)
            s.markPlayed(n);
        QCOMPARE(s.dueAnnotation(positionMs), due);
        s.rearm();
        QVERIFY(s.dueAnnotation(3000) == 2);
        // The played set belongs to the project.
        s.markPlayed(2);
        s.open(tmp->path());
        QCOMPARE(s.dueAnnotation(3000), 2);
    }

    // The session answers from what it read: a query never reads the file again; a change does.
    void readsOncePerChange() {
        touch(at("annotation1.avi"), "x");
        touch(at("project.xml"), "<ANNOTATION><Numero Value='1'><FramePosition Value='50'/>"
                                 "<Type Value='1'/></Numero></ANNOTATION>");
        ProjectSession s;
        s.open(tmp->path());
        touch(at("project.xml"), "<ANNOTATION/>");
        QVERIFY(s.isPauseType(1));
        QCOMPARE(s.dueAnnotation(2000), 1);
        touch(at("annotation2.avi"), "x");
        s.addAnnotation(2, 0, 75); // a change reads the file again
        QVERIFY(!s.annotation(1)->hasEntry);
        // A length measured while watching is written but leaves nothing to save; beside a real
        // change, undoing that change takes the length with it.
        s.markSaved();
        s.setDuration(2, 4040);
        QVERIFY(!s.hasChanges());
        QCOMPARE(s.annotation(2)->entry.duration, 4040.0);
        s.setCutStart(2, 500);
        s.setDuration(2, 3000);
        QVERIFY(s.hasChanges());
        QVERIFY(s.discardChanges());
        QCOMPARE(s.annotation(2)->entry.duration, 4040.0);
        QCOMPARE(s.annotation(2)->entry.cutStart, 0.0);
    }

    // A file that is not a project file is kept as it is, and reading it never blocks.
    void unusableProjectFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("device") << "device";
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("too large") << "large";
        QTest::newRow("too deep") << "deep";
    }
    void unusableProjectFile() {
        QFETCH(QString, kind);
        const QString xml = at("project.xml");
        if (kind == "device")
            QVERIFY(QFile::link("/dev/zero", xml));
        else if (kind == "fifo")
            QCOMPARE(mkfifo(QFile::encodeName(xml).constData(), 0600), 0);
        else if (kind == "large")
            touch(xml, "<ANNOTATION>" + QByteArray(5 << 20, ' ') + "</ANNOTATION>");
        else
            touch(xml, "<ANNOTATION><Numero Value='1'><Type><a/></Type></Numero></ANNOTATION>");
        touch(at("annotation1.avi"), "x");
        ProjectSession s;
        QSignalSpy warnings(&s, &ProjectSession::warning);
        QElapsedTimer clock;
        clock.start();
        s.open(tmp->path());
        s.addAnnotation(1, 0, 50);
        QVERIFY(clock.elapsed() < 5000);
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings[0][0].toString().contains("endommagé"));
        QVERIFY(QFileInfo(xml).isSymLink() == (kind == "device"));
        QVERIFY(kind != "deep" || QFileInfo(xml).size() < 100);
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "test_project_file.moc"
