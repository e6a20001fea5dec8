#include "common/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QSettings>
#include <QTimer>
#include <QtTest>

// Where the real file dialogs open, and what they remember for the next time.
class TestDialogs : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

    QString path(const QString& name) const { return m_dir.filePath(name); }
    static void forget() { QSettings("KEL", "KEL").remove("dialogues/dernierDossier"); }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path("config"));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path("config"));
        QVERIFY(QDir().mkpath(path("projets/eleve1")) && QDir().mkpath(path("videos")));
    }

    void startFolder_data() {
        QTest::addColumn<QString>("remembered");
        QTest::addColumn<QString>("given");
        QTest::addColumn<QString>("expected"); // "~": the home folder
        // clang-format off
        QTest::newRow("the last one")               << "projets/eleve1" << "" << "projets/eleve1";
        QTest::newRow("the caller's own")           << "projets/eleve1" << "videos" << "videos";
        QTest::newRow("the last one since removed") << "projets/parti" << "" << "~";
        // clang-format on
    }
    void startFolder() {
        QFETCH(QString, remembered);
        QFETCH(QString, given);
        QFETCH(QString, expected);
        forget();
        kel::rememberDialogFolder(path(remembered));
        QCOMPARE(kel::dialogStartFolder(given.isEmpty() ? QString() : path(given)),
                 expected == "~" ? QDir::homePath() : path(expected));
    }

    // The real dialogs, answered as a teacher would: each opens where the last answer was.
    void realDialogs() {
        forget();
        QFile file(path("videos/eleve.avi"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QStringList openedIn;
        const auto answer = [&](const QString& chosen) {
            QTimer::singleShot(0, [&, chosen] {
                auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                QVERIFY(d);
                openedIn << QDir::cleanPath(d->directory().absolutePath());
                d->selectFile(chosen);
                static_cast<QDialog*>(d)->accept(); // as its own button does
            });
        };
        answer(path("videos/eleve.avi"));
        QCOMPARE(kel::dialogs().getOpenFileName(nullptr, "Ouvrir une vidéo", QString(), "*"),
                 path("videos/eleve.avi"));
        answer(path("projets"));
        QCOMPARE(kel::dialogs().getExistingDirectory(nullptr, "Choisir un répertoire existant"),
                 path("projets"));
        answer(path("videos/eleve.avi"));
        kel::dialogs().getOpenFileName(nullptr, "Ouvrir une vidéo", QString(), "*");
        QCOMPARE(openedIn, (QStringList{QDir::homePath(), path("videos"), path("projets")}));
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
