#include "app/globals.h"
#include "app/principalw.h"
#include "playback/player_widget.h"
#include "support/scripted_dialogs.h"

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using kel::PrincipalW;

namespace {

const QString noCamera = QStringLiteral("/nonexistent-camera.avi");

const QByteArray threeEntries =
    "<?xml version='1.0' encoding='UTF-8'?>\n<ANNOTATION>\n <Numero Value=\"1\"><FramePosition "
    "Value=\"25\"/><Type Value=\"0\"/></Numero>\n <Numero Value=\"2\"><FramePosition Value=\"50\"/>"
    "<Type Value=\"1\"/></Numero>\n <Numero Value=\"10\"><FramePosition Value=\"75\"/><Type "
    "Value=\"0\"/></Numero>\n</ANNOTATION>\n";

void touch(const QString& path, const QByteArray& content = "x") {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestProjectLifecycle : public QObject {
    Q_OBJECT
    QTemporaryDir tmp;
    QString base; // a folder whose path has spaces, accents and quotes
    QString at(const QString& name) const {
        return name.isEmpty() ? name : QDir::cleanPath(base + '/' + name);
    }

    void open(PrincipalW& w, ScriptedDialogs& d, const QString& dir) {
        d.directories.enqueue(dir);
        w.on_bOuvrirProjet_clicked();
    }

    // The window's project: folder | list | count sync highest-number flags | schedule, where the
    // flags add 1 when saved, 2 with an annotation file, 4 with an annotation number.
    QString state(PrincipalW& w) {
        QStringList items, schedule;
        for (int i = 0; i < w.comboAnnotations->count(); ++i)
            items << w.comboAnnotations->itemText(i).remove(kel::comboPrefix);
        for (int v : w.annotationSchedule)
            schedule << QString::number(v);
        const QString numbers = QString::asprintf(
            "%d %d %d %d", w.annotationCount, int(w.syncEnabled), w.highestAnnotationNumber(),
            w.projectSaved + 2 * bool(w.currentAnnotationFile) +
                4 * (w.currentAnnotationNumber != 0));
        return QStringList{w.projectDir.mid(base.size() + 1), items.join(','), numbers,
                           schedule.join(' ')}
            .join('|')
            .replace(kel::noAnnotationText, "-");
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
        QTest::addColumn<QStringList>("answers"); // the slot, then its answers; "" cancels
        QTest::addColumn<QString>("box");         // %1: the folder aimed at
        QTest::addColumn<QString>("after");
        const QString first = "premier|1,10,2,12|3 1 10 7|1 25 2 50 10 75";
        const QString created = "plain: Répertoire sélectionné: \r\n%1";
        const QString opened = "plain: Répertoire sélectionné: \r\n %1";
        const QString cannot = "platform: Impossible de créer le répertoire du projet « %1 ».\r\n"
                               "Choisissez un autre nom ou un autre emplacement.";
        auto row = [](const char* name, QStringList answers, QString box, QString after) {
            QTest::newRow(name) << answers << box << after;
        };
        row("name cancelled", {"new", ""}, "", first);
        row("no location", {"new", "Leçon 1"}, "platform: Aucun emplacement n'a été sélectionné",
            first);
        row("created", {"new", "Leçon 1 d'Élodie", "."}, created, "Leçon 1 d'Élodie|-|0 0 0 0|");
        row("existing folder", {"new", "premier", "."}, created, "premier|-|0 0 10 0|");
        row("name of a file", {"new", "fichier", "."}, cannot, first);
        row("name leaving the location", {"new", "../ailleurs", "."}, cannot, first);
        row("open another", {"open", "autre"}, opened, "autre|4|1 1 4 0|");
        row("open an empty folder", {"open", "vide"}, opened, "vide||0 0 0 0|");
        row("cancelled", {"open", ""}, "plain: Aucun répertoire n'a été sélectionné", "||0 0 0 0|");
    }
    void projectSlots() {
        QFETCH(QStringList, answers);
        QFETCH(QString, box);
        QFETCH(QString, after);
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        open(w, d, at("premier"));
        QVERIFY(w.bOuvrirVideo->isEnabled() && w.bEnregistrerProjet->isEnabled() &&
                w.bExporter->isEnabled() && w.comboAnnotations->isEnabled());
        w.annotationSchedule.clear();
        kel::studentPlayer->bDebut->setEnabled(true);
        kel::studentPlayer->bDebut->click(); // "|<" re-arms every annotation
        w.registerAnnotation(at("premier/annotation12.avi"));
        w.registerAnnotation(at("premier/annotation12.avi"));
        w.currentAnnotationNumber = 2;
        w.bEnregistrerProjet->click();
        QCOMPARE(state(w), QStringLiteral("premier|1,10,2,12|3 1 10 7|1 25 2 50 10 75"));

        const int shown = int(d.shown.size());
        const QString previousCwd = QDir::currentPath();
        // A cancelled dialog must not stand for the working directory.
        QDir::setCurrent(at("premier"));
        if (answers[0] == "new") {
            d.texts.enqueue(answers[1]);
            d.directories.enqueue(at(answers.value(2)));
            w.on_bNouveau_clicked();
        } else {
            open(w, d, at(answers[1]));
        }
        QCOMPARE(state(w), after);
        w.annotationCount = 1;
        if (w.projectDir.isEmpty()) {
            w.addAnnotationEntry(1); // schedules and writes nothing
            QVERIFY(w.annotationSchedule.isEmpty());
        }
        QDir::setCurrent(previousCwd);
        QCOMPARE(boxes(d, shown).join('\n'), QString(box).replace("%1", base + '/' + answers[1]));
        QCOMPARE(readAll(at("premier/project.xml")), threeEntries);
        QVERIFY(!QFileInfo::exists(at("../ailleurs")));
    }

    // A damaged file is reported once and kept; a write that fails is reported. The schedule in
    // memory goes on, one pair per number.
    void writeProblemsAreReported() {
        const QByteArray damaged = "<?xml version='1.0'?>\r\r<ANNOTATION>\n <Nu";
        touch(at("abîmé/project.xml"), damaged);
        ScriptedDialogs d;
        PrincipalW w(noCamera);
        open(w, d, at("abîmé"));
        for (int n : {2, 3, 2})
            w.addAnnotationEntry(n);
        w.updateAnnotationEntry(1, 4000, 0, 0);
        QCOMPARE(w.annotationSchedule, (QList<int>{3, 0, 2, 0}));
        QCOMPARE(readAll(at("abîmé/project.xml")), damaged);
        open(w, d, at("disparu"));
        QVERIFY(QDir(at("disparu")).removeRecursively());
        w.addAnnotationEntry(2);
        const QStringList shown = boxes(d);
        QCOMPARE(shown.size(), 4);
        QVERIFY2(shown[1].startsWith("platform: Le fichier de projet « " + at("abîmé/project.xml") +
                                     " » est endommagé"),
                 qPrintable(shown[1]));
        QVERIFY2(shown[3].startsWith("platform: Impossible d'enregistrer le fichier de projet « " +
                                     at("disparu/project.xml") + " »"),
                 qPrintable(shown[3]));
    }
};

QTEST_MAIN(TestProjectLifecycle)
#include "test_project_lifecycle.moc"
