#include "project/project_session.h"
#include "support/media.h"

#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>

using kel::ProjectSession;

static void write(const QString& path, const QByteArray& bytes) {
    QVERIFY(testmedia::writeFile(path, bytes));
}

static QString numbers(const ProjectSession& s) {
    QStringList list;
    for (const kel::SessionAnnotation& a : s.annotations())
        list << QString::number(a.number) + (a.hasEntry ? "" : "?");
    return list.join(' ');
}

class TestProjectSession : public QObject {
    Q_OBJECT
    std::optional<QTemporaryDir> tmp;
    QString at(const QString& name) const { return tmp->filePath(name); }

private slots:
    void init() { tmp.emplace(); }

    // One rule decides what is an annotation file, and a new number never names an existing file.
    void fileNameRule() {
        for (const char* name :
             {"annotation1.avi", "annotation10.avi", "Annotation5.avi", "annotation05.avi",
              "annotation6.AVI", "annotation7b.avi", "annotation2.avi.bak", "annotation11.avi",
              "annotation2147483647.avi"})
            write(at(name), "x");
        QVERIFY(QDir(tmp->path()).mkdir("annotation12.avi"));
        QFile::remove(at("annotation11.avi"));
        QVERIFY(QFile::link(at("annotation1.avi"), at("annotation11.avi")));
        ProjectSession s;
        s.open(tmp->path());
        QCOMPARE(numbers(s), QStringLiteral("1? 10? 11?"));
        QCOMPARE(s.numberForCopy(), 13);
        QCOMPARE(s.numberForRecording(), 4);
        write(at("annotation4.avi"), "x");
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
        QTest::newRow("all played") << qint64(3500) << QList<int>{2, 3} << 0;
        QTest::newRow("file missing") << qint64(5200) << QList<int>{} << 0;
        QTest::newRow("number given again") << qint64(7000) << QList<int>{} << 5;
    }
    void dueAnnotation() {
        QFETCH(qint64, positionMs);
        QFETCH(QList<int>, played);
        QFETCH(int, due);
        write(at("project.xml"),
              "<ANNOTATION><Numero Value='1'><FramePosition Value='0'/></Numero>"
              "<Numero Value='2'><FramePosition Value='75'/></Numero>"
              "<Numero Value='5'><FramePosition Value='75'/></Numero>"
              "<Numero Value='3'><FramePosition Value='75'/></Numero>"
              "<Numero Value='4'><FramePosition Value='125'/></Numero>"
              "<Numero Value='5'><FramePosition Value='175'/></Numero></ANNOTATION>");
        for (int n : {1, 2, 3, 5})
            write(at(QStringLiteral("annotation%1.avi").arg(n)), "x");
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
        write(at("annotation1.avi"), "x");
        write(at("project.xml"), "<ANNOTATION><Numero Value='1'><FramePosition Value='50'/>"
                                 "<Type Value='1'/></Numero></ANNOTATION>");
        ProjectSession s;
        s.open(tmp->path());
        write(at("project.xml"), "<ANNOTATION/>");
        QVERIFY(s.isPauseType(1));
        QCOMPARE(s.dueAnnotation(2000), 1);
        write(at("annotation2.avi"), "x");
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
            write(xml, "<ANNOTATION>" + QByteArray(5 << 20, ' ') + "</ANNOTATION>");
        else
            write(xml, "<ANNOTATION><Numero Value='1'><Type><a/></Type></Numero></ANNOTATION>");
        write(at("annotation1.avi"), "x");
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

QTEST_GUILESS_MAIN(TestProjectSession)
#include "test_project_session.moc"
