#include "playback/synchronised_playback.h"

#include <QtTest>

using kel::SynchronisedPlayback;

// What the student's player and the teacher do, one word each ("play", "pause", a position in
// ms, "teacher": a click on play/pause, "end": the comment ends, "hold"/"release": a recording,
// "rearm": "|<", "drop": no comment chosen in the list), and what the rule asks in return.
struct Script {
    QString events, expected;
};
Q_DECLARE_METATYPE(Script)

class TestPlaybackRule : public QObject {
    Q_OBJECT

    // Comments: 1 in the first second; 2 (pausing), 5 and 3 at 3 s; 4 at 7 s; 6, then 7
    // (pausing) at 10 s.
    static QString run(const QString& events) {
        SynchronisedPlayback rule;
        rule.setComments({{1, 0, false},
                          {2, 75, true},
                          {5, 75, false},
                          {3, 75, false},
                          {4, 175, false},
                          {6, 250, false},
                          {7, 250, true}});
        QStringList asked;
        connect(&rule, &SynchronisedPlayback::commentDue, &rule,
                [&](int n) { asked << QStringLiteral("due%1").arg(n); });
        connect(&rule, &SynchronisedPlayback::pauseStudent, &rule, [&] { asked << "pause"; });
        connect(&rule, &SynchronisedPlayback::resumeStudent, &rule, [&] { asked << "resume"; });
        for (const QString& e : events.split(' ', Qt::SkipEmptyParts)) {
            bool isPosition = false;
            const int ms = e.toInt(&isPosition);
            if (isPosition)
                rule.studentPositionChanged(ms);
            else if (e == "play" || e == "pause")
                rule.studentPlayingChanged(e == "play");
            else if (e == "teacher")
                rule.teacherTookStudent();
            else if (e == "end")
                rule.commentEnded();
            else if (e == "hold" || e == "release")
                rule.setHeld(e == "hold");
            else if (e == "rearm")
                rule.rearm();
            else if (e == "drop")
                rule.dropWaiting();
            else if (e.startsWith("played"))
                rule.markPlayed(e.mid(6).toInt());
        }
        return asked.join(' ');
    }

private slots:
    void rule_data() {
        QTest::addColumn<Script>("script");
        const QList<std::pair<const char*, Script>> rows = {
            {"never in the first second", {"play 400 900", ""}},
            {"the whole second, the first listed", {"play 3999", "pause due2"}},
            {"once only", {"play 7000 end 7500", "due4"}},
            {"one second's comments all play, in order, the video held for all",
             {"play 3000 3400 end 3400 end end", "pause due2 due5 due3 resume"}},
            {"playing on past the second keeps the rest of it",
             {"play played2 3000 3100 3900 4000 4100 end end", "due5 due3"}},
            {"a play comment, then a pause comment: the video stops for the second",
             {"play 10000 10500 end end", "due6 pause due7 resume"}},
            {"a video stopped meanwhile (at its end) is left so",
             {"play 10000 pause end end", "due6 due7"}},
            {"a jump away drops the rest of the second",
             {"play 3000 9000 end", "pause due2 resume"}},
            {"a step back too", {"play played2 3000 2960 end", "due5"}},
            {"back there later, the dropped ones play",
             {"play 3000 9000 end 3000 end end", "pause due2 resume due5 due3"}},
            {"|< makes the whole second due again",
             {"play 3000 end end end rearm 3000 end end end",
              "pause due2 due5 due3 resume pause due2 due5 due3 resume"}},
            {"no comment chosen: the rest stay due",
             {"play played2 3000 drop end 3000", "due5 due3"}},
            {"a recording drops what waits", {"play played2 3000 hold end", "due5"}},
            {"a later second replaces what waits",
             {"play played2 3000 4400 5800 7000 end", "due5 due4"}},
            {"one the teacher has seen does not start", {"play played2 3000", "due5"}},
            {"a paused video starts nothing", {"pause 3000 7000", ""}},
            {"a jump while playing starts the comment there", {"play 1000 7500", "due4"}},
            {"a comment that does not pause resumes nothing", {"play 7000 end", "due4"}},
            {"the teacher's own play, then pause, is kept",
             {"play 3000 teacher end end end", "pause due2 due5 due3"}},
            {"paused again by the teacher: no restart at the end",
             {"play 3000 pause teacher play teacher pause end end end", "pause due2 due5 due3"}},
            {"nothing starts under a recording", {"hold play 3000 release 7000", "due4"}},
            {"|< makes every comment due again", {"play 7000 end 7000 rearm 7000", "due4 due4"}},
        };
        for (const auto& [name, script] : rows)
            QTest::newRow(name) << script;
    }
    void rule() {
        QFETCH(Script, script);
        QCOMPARE(run(script.events), script.expected);
    }
};

QTEST_GUILESS_MAIN(TestPlaybackRule)
#include "test_playback_rule.moc"
