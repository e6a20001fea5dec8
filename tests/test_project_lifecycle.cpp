#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "project/project_session.h"
#include "support/scripted_dialogs.h"

#include <QComboBox>
#include <QPushButton>
#include <QtTest>

using kel::PrincipalW;

static const QByteArray threeEntries =
    "<ANNOTATION><Numero Value='1'><FramePosition Value='25'/></Numero><Numero Value='2'>"
    "<FramePosition Value='50'/></Numero><Numero Value='10'><FramePosition Value='75'/></Numero>"
    "</ANNOTATION>";

static void touch(const QString& path, const QByteArray& content = "x") {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
}

class TestProjectLifecycle : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString base; // a folder whose path has spaces, accents and quotes
    QString at(const QString& name) const { return QDir::cleanPath(base + '/' + name); }

    // The window's project: folder | list | count current | entries.
    QString state(PrincipalW& w) {
        QString s = w.session->dir().mid(base.size() + 1) + '|';
        for (int i = 0; i < w.comboAnnotations->count(); ++i)
            s += (i ? "," : "") + w.comboAnnotations->itemText(i).remove(kel::comboPrefix);
        s += QString::asprintf("|%d %d|", w.session->count(), w.session->current());
        for (const kel::SessionAnnotation& a : w.session->annotations())
            if (a.hasEntry)
                s += QStringLiteral("%1 %2 ").arg(a.number).arg(a.entry.framePosition);
        return s.trimmed().replace(kel::noAnnotationText, "-");
    }

    // The boxes shown since `from` as "kind: text"; a warning not from "KEL" shows as "bad".
    static QStringList boxes(const ScriptedDialogs& d, int from = 0) {
        QStringList texts;
        for (const auto& s : d.shown.mid(from)) {
            const bool fromKel = s.caption == "KEL" && s.icon == kel::Dialogs::Icon::Warning;
            texts << (s.kind == "plain" || fromKel ? s.kind : "bad") + ": " + s.text;
        }
        return texts;
    }

private slots:
    void initTestCase() {
        base = QDir(tmp.path()).filePath(QStringLiteral("Cours d'été \"LSF\""));
        for (const char* file : {"premier/annotation1.avi", "premier/annotation2.avi",
                                 "premier/annotation10.avi", "autre/annotation4.avi",
                                 "abîmé/annotation1.avi", "disparu/annotation1.avi", "fichier"})
            touch(at(file));
        QVERIFY(QDir().mkpath(at("vide")));
        touch(at("premier/project.xml"), threeEntries);
    }

    // From an open project, "Nouveau" or "Ouvrir" answered in every way.
    void projectSlots_data() {
        QTest::addColumn<QStringList>("answers"); // the slot, the name, the folder; "": cancelled
        QTest::addColumn<QString>("box");         // %1: the folder aimed at
        QTest::addColumn<QString>("after");
        const QString first = "premier|1,10,2|3 2|1 25 10 75 2 50";
        const QString created = "plain: Répertoire sélectionné: \r\n%1";
        const QString opened = "plain: Répertoire sélectionné: \r\n %1";
        const QString cannot = "platform: Impossible de créer le répertoire du projet « %1 ».\r\n"
                               "Choisissez un autre nom ou un autre emplacement.";
        // clang-format off
        QTest::newRow("name cancelled") << QStringList{"new", "", ""} << "" << first;
        QTest::newRow("no location") << QStringList{"new", "Leçon 1", ""} << "platform: Aucun emplacement n'a été sélectionné" << first;
        QTest::newRow("created") << QStringList{"new", "Leçon 1 d'Élodie", "."} << created << "Leçon 1 d'Élodie|-|0 0|";
        QTest::newRow("existing folder") << QStringList{"new", "premier", "."} << created << "premier|1,10,2|3 0|1 25 10 75 2 50";
        QTest::newRow("name of a file") << QStringList{"new", "fichier", "."} << cannot << first;
        QTest::newRow("name leaving the location") << QStringList{"new", "../ailleurs", "."} << cannot << first;
        QTest::newRow("open another") << QStringList{"open", "", "autre"} << opened << "autre|4|1 0|";
        QTest::newRow("open an empty folder") << QStringList{"open", "", "vide"} << opened << "vide|-|0 0|";
        QTest::newRow("cancelled") << QStringList{"open", "", ""} << "plain: Aucun répertoire n'a été sélectionné" << "|-|0 0|";
        // clang-format on
    }
    void projectSlots() {
        QFETCH(QStringList, answers);
        QFETCH(QString, box);
        QFETCH(QString, after);
        ScriptedDialogs d;
        PrincipalW w(QStringLiteral("/nonexistent-camera.avi"));
        d.directories.enqueue(at("premier"));
        w.on_bOuvrirProjet_clicked();
        w.session->setCurrent(2);
        w.bEnregistrerProjet->click();
        QCOMPARE(state(w), QStringLiteral("premier|1,10,2|3 2|1 25 10 75 2 50"));

        const int shown = int(d.shown.size());
        const auto restore = qScopeGuard([cwd = QDir::currentPath()] { QDir::setCurrent(cwd); });
        // A cancelled dialog must not stand for the working directory.
        QDir::setCurrent(at("premier"));
        d.texts.enqueue(answers[1]);
        d.directories.enqueue(answers[2].isEmpty() ? "" : at(answers[2]));
        answers[0] == "new" ? w.on_bNouveau_clicked() : w.on_bOuvrirProjet_clicked();
        QCOMPARE(state(w), after);
        if (!w.session->isOpen()) {
            w.session->addAnnotation(1, 0, 25); // enters and writes nothing
            QVERIFY(w.session->annotations().isEmpty() && !w.session->hasChanges());
        }
        QCOMPARE(boxes(d, shown).join('\n'),
                 box.replace("%1", QDir(at(answers[2])).filePath(answers[1])));
        QFile xml(at("premier/project.xml"));
        QVERIFY(xml.open(QIODevice::ReadOnly) && xml.readAll() == threeEntries);
        QVERIFY(!QFileInfo::exists(at("../ailleurs")));
    }

    // A damaged file is reported once, and so is a write that fails.
    void writeProblemsAreReported() {
        touch(at("abîmé/project.xml"), "<?xml version='1.0'?>\r\r<ANNOTATION>\n <Nu");
        ScriptedDialogs d;
        PrincipalW w(QStringLiteral("/nonexistent-camera.avi"));
        d.directories << at("abîmé") << at("disparu");
        w.on_bOuvrirProjet_clicked();
        for (int n : {2, 3, 2})
            w.session->addAnnotation(n, 0, 25);
        w.on_bOuvrirProjet_clicked();
        QVERIFY(QDir(at("disparu")).removeRecursively());
        w.session->addAnnotation(2, 0, 25);
        const QStringList shown = boxes(d).filter(QRegularExpression("^platform: "));
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[0].contains("« " + at("abîmé/project.xml") + " » est endommagé"));
        QVERIFY(shown[1].contains("Impossible d'enregistrer le fichier de projet « " +
                                  at("disparu/project.xml") + " »"));
    }
};

QTEST_MAIN(TestProjectLifecycle)
#include "test_project_lifecycle.moc"
