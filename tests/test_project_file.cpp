#include "project/project_session.h"
#include "support/media.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using kel::ProjectFile;
using kel::ProjectSession;
using Result = ProjectFile::WriteResult;

using namespace testmedia;

// The children of the last entry `number`, shortened: "FramePosition=250 Type=0 Debut=1200".
static QString entry(const QByteArray& xml, int number) {
    QString text = QString::fromUtf8(xml).simplified().remove(QRegularExpression("<|/>|\""));
    text.replace(QStringLiteral("CouperAnnotation Value"), "").replace(" Value=", "=");
    return text.section(QStringLiteral("Numero=%1> ").arg(number), -1).section(" /Numero>", 0, 0);
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
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
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
        QCOMPARE(file.readCutEnd(3), 0.0);
        QCOMPARE(file.updateAnnotationEntry(3, 0, 1200, 0), Result::Written);
        QCOMPARE(entry(bytes(), 3), QStringLiteral("FramePosition=750 Type=0 Debut=1200"));
    }

    void failedWriteKeepsPreviousFile() {
        QCOMPARE(file.writeAnnotationEntry(1, 0, 250), Result::Written);
        const QByteArray before = bytes();
        // A file size limit makes the write fail for root as a full disk would.
        rlimit previous;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const rlimit small{rlim_t(before.size() + 16), previous.rlim_max};
        QVERIFY(std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR && setrlimit(RLIMIT_FSIZE, &small) == 0);
        const Result result = file.writeAnnotationEntry(2, 1, 1500);
        setrlimit(RLIMIT_FSIZE, &previous);
        QCOMPARE(result, Result::Failed);
        QCOMPARE(bytes(), before);
        QCOMPARE(QDir(tmp->path()).entryList(QDir::Files | QDir::Hidden), {"project.xml"});
    }

    // One rule decides what is an annotation file, and a new number never names an existing file.
    void fileNameRule() {
        for (const char* name : {"annotation1.avi", "annotation10.avi", "Annotation5.avi",
                                 "annotation05.avi", "annotation6.AVI", "annotation7b.avi",
                                 "annotation2.avi.bak", "annotation2147483647.avi"})
            touch(at(name));
        QVERIFY(QDir(tmp->path()).mkdir("annotation12.avi"));
        QVERIFY(QFile::link(at("annotation1.avi"), at("annotation11.avi")));
        ProjectSession s;
        s.open(tmp->path());
        QVERIFY(s.count() == 3 && s.annotation(1) && s.annotation(10) && s.annotation(11));
        QVERIFY(s.entries().isEmpty()); // listed, but nothing is scheduled without project.xml
        QCOMPARE(s.numberForCopy(), 13);
        QCOMPARE(s.numberForRecording(), 4);
        touch(at("annotation4.avi"));
        QCOMPARE(s.numberForRecording(), 13);
    }

    // The model follows what the session wrote, and a change takes the file as it is now.
    void modelFromWrites() {
        for (int n : {2, 3})
            file.writeAnnotationEntry(n, 0, 75);
        touch(at("annotation2.avi"));
        ProjectSession s;
        s.open(tmp->path());
        QCOMPARE(s.entries().size(), 2);
        touch(at("project.xml"), "<ANNOTATION/>"); // changed behind the session's back
        QVERIFY(s.annotation(2)->hasEntry);        // a query never reads the file again
        s.addAnnotation(6, 1, 100);
        QVERIFY(!s.annotation(2)->hasEntry && s.annotation(6) && s.isPauseType(6));
        QCOMPARE(s.count(), 2); // listed without reading the folder again
    }

    // A length measured while watching is written but leaves nothing to save; beside a real
    // change, undoing that change takes the length with it.
    void measuredLength() {
        file.writeAnnotationEntry(2, 0, 75);
        touch(at("annotation2.avi"));
        ProjectSession s;
        s.open(tmp->path());
        s.setDuration(2, 4040);
        QVERIFY(!s.hasChanges());
        s.setCutStart(2, 500);
        s.setDuration(2, 3000);
        QVERIFY(s.hasChanges());
        QVERIFY(s.discardChanges());
        QCOMPARE(s.annotation(2)->entry.duration, 4040.0);
        QCOMPARE(s.annotation(2)->entry.cutStart, 0.0);
    }

    // "Ne pas enregistrer" undoes this session's entries, cuts and files on the file as it is
    // now: what another program wrote meanwhile stays, and a link is never written through.
    void discardOnTheFileAsItIsNow_data() {
        QTest::addColumn<bool>("linked");
        QTest::newRow("changed by another program") << false;
        QTest::newRow("became a link") << true;
    }
    void discardOnTheFileAsItIsNow() {
        QFETCH(bool, linked);
        file.writeAnnotationEntry(1, 0, 25);
        file.updateAnnotationEntry(1, 0, 700, 0);
        touch(at("annotation1.avi"));
        ProjectSession s;
        s.open(tmp->path());
        touch(at("annotation2.avi"));
        s.addAnnotation(2, 1, 50);
        s.setCutStart(1, 900);
        s.setCutEnd(2, 2000);
        ProjectFile other(tmp->path()); // another KEL saves its comment
        QCOMPARE(other.writeAnnotationEntry(3, 0, 75), Result::Written);
        const QString target = at("texte.txt");
        if (linked) {
            touch(target, bytes());
            QVERIFY(QFile::remove(file.path()) && QFile::link(target, file.path()));
        }
        const QByteArray before = contents(linked ? target : file.path());
        QCOMPARE(s.discardChanges(), !linked);
        QCOMPARE(QFile::exists(at("annotation2.avi")), false);
        if (linked) {
            QCOMPARE(contents(target), before);
            return;
        }
        QCOMPARE(entry(bytes(), 1), QStringLiteral("FramePosition=25 Type=0 Debut=700"));
        QVERIFY(!bytes().contains("Numero Value=\"2\""));
        QCOMPARE(entry(bytes(), 3), QStringLiteral("FramePosition=75 Type=0"));
        QVERIFY(!s.hasChanges());
    }

    // A file that is not a project file is kept as it is, and reading it never blocks. A link
    // leads to a file of this test's own: a write through it stays in the test's folder.
    void unusableProjectFile_data() {
        QTest::addColumn<QByteArray>("content"); // "fifo", or "link": a link to a fifo
        QTest::newRow("link") << QByteArray("link");
        QTest::newRow("fifo") << QByteArray("fifo");
        QTest::newRow("too large") << "<ANNOTATION>" + QByteArray(5 << 20, ' ') + "</ANNOTATION>";
        QTest::newRow("too deep") << QByteArray(
            "<ANNOTATION><Numero Value='1'><Type><a/></Type></Numero></ANNOTATION>");
    }
    void unusableProjectFile() {
        QFETCH(QByteArray, content);
        const bool special = content == "fifo" || content == "link";
        const QString fifo = content == "link" ? at("fifo") : file.path();
        QVERIFY(special ? mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0 &&
                              (content == "fifo" || QFile::link(fifo, file.path()))
                        : writeFile(file.path(), content));
        touch(at("annotation1.avi"));
        ProjectSession s;
        QSignalSpy warnings(&s, &ProjectSession::warning);
        const QDeadlineTimer limit(5000);
        s.open(tmp->path());
        s.addAnnotation(1, 0, 50);
        QVERIFY(!limit.hasExpired());
        QCOMPARE(warnings.size(), 1);
        struct stat st {};
        QVERIFY(special ? QFileInfo(file.path()).isSymLink() == (content == "link") &&
                              ::stat(QFile::encodeName(fifo).constData(), &st) == 0 &&
                              S_ISFIFO(st.st_mode)
                        : bytes() == content);
    }
};

QTEST_GUILESS_MAIN(TestProjectFile)
#include "test_project_file.moc"
