#include "project/recent_projects.h"

#include <QSettings>
#include <QtTest>

using kel::RecentProjects;

class TestRecentProjects : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    // Folders are listed as the disk names them, links resolved.
    QString base() const { return QFileInfo(m_dir.path()).canonicalFilePath(); }
    QString path(const QString& name) const { return base() + '/' + name; }
    // The list as names inside the test's folder.
    QStringList names() const {
        QStringList list;
        for (const QString& f : RecentProjects().folders())
            list << QDir(base()).relativeFilePath(f);
        return list;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path("config"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path("config"));
        for (const char* name : {"a", "b", "c", "d", "e", "a b,é"})
            QVERIFY(QDir().mkpath(path(name)));
        QVERIFY(QFile::link(path("b"), path("lien")));
    }
    void init() { QSettings("KEL", "KEL").remove("projets/recents"); }

    void add_data() {
        QTest::addColumn<QStringList>("opened"); // in order
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("five kept") << QStringList{"a", "b", "c", "d", "e", "a b,é"}
                                   << QStringList{"a b,é", "e", "d", "c", "b"};
        QTest::newRow("again: to the front, once")
            << QStringList{"a", "b", "c", "a"} << QStringList{"a", "c", "b"};
        QTest::newRow("another spelling of one folder")
            << QStringList{"a", "b", "c/../a/", "./b", "lien"} << QStringList{"b", "a"};
    }
    void add() {
        QFETCH(QStringList, opened);
        QFETCH(QStringList, expected);
        for (const QString& name : opened)
            RecentProjects().add(path(name));
        QCOMPARE(names(), expected);
    }

    // A folder gone is named so and can be taken off the list; a new project has no file yet.
    void entries() {
        QVERIFY(QDir().mkpath(path("parti")));
        QFile xml(path("c/project.xml"));
        QVERIFY(xml.open(QIODevice::WriteOnly));
        xml.close();
        for (const char* name : {"c", "parti", "d"})
            RecentProjects().add(path(name));
        QVERIFY(QDir(path("parti")).removeRecursively());

        QStringList seen;
        for (const RecentProjects::Entry& e : RecentProjects().entries())
            seen << QStringLiteral("%1 %2 %3")
                        .arg(QFileInfo(e.folder).fileName())
                        .arg(e.folderExists)
                        .arg(e.hasProjectFile);
        QCOMPARE(seen, (QStringList{"d 1 0", "parti 0 0", "c 1 1"}));
        const RecentProjects::Entry gone = RecentProjects().entries().at(1);
        QCOMPARE(RecentProjects::menuText(gone),
                 QDir::toNativeSeparators(path("parti")) + " (introuvable)");
        QCOMPARE(RecentProjects::menuText(RecentProjects().entries().at(0)),
                 QDir::toNativeSeparators(path("d")));

        RecentProjects().remove(gone.folder);
        QCOMPARE(names(), (QStringList{"d", "c"}));
    }
};

QTEST_GUILESS_MAIN(TestRecentProjects)
#include "test_recent_projects.moc"
