#pragma once

#include "common/dialogs.h"

#include <QQueue>
#include <QStringList>

#include <functional>
#include <utility>

// Answers the windows' dialogs from queues and records every box shown.
class ScriptedDialogs : public kel::Dialogs {
public:
    struct Shown {
        QString kind; // "platform", "plain", "information", "choice", "actions"
        QString caption;
        QString text;
        Icon icon = Icon::None;
    };

    ScriptedDialogs() { kel::setDialogs(this); }
    ~ScriptedDialogs() override { kel::setDialogs(nullptr); }

    QList<Shown> shown;
    QQueue<bool> questionAnswers; // platformBox with Icon::Question; default true (OK)
    QQueue<int> choices;          // choice(); default -1 (closed)
    QQueue<QString> texts;        // getText(); default empty (cancelled)
    QStringList textTitles;       // the title of each getText
    QQueue<QString> directories;  // getExistingDirectory(); default empty
    QQueue<QString> files;        // getOpenFileName(); default empty
    QStringList fileDialogDirs;   // start directory of each getOpenFileName
    QQueue<int> menuChoices;      // menu(); default 0 (the first item)
    QList<QStringList> menus;     // the items of each menu shown
    QList<QList<bool>> menusEnabled;
    // Runs while a question or a plain box is open, as the event loop of a real box would.
    std::function<void()> underQuestion;

    int count(const QString& kind) const {
        int n = 0;
        for (const auto& s : shown)
            n += s.kind == kind;
        return n;
    }
    QString lastText() const { return shown.isEmpty() ? QString() : shown.last().text; }

    bool platformBox(const QString& caption, const QString& text, Icon icon) override {
        shown.append({QStringLiteral("platform"), caption, text, icon});
        if (icon != Icon::Question)
            return true;
        if (underQuestion)
            std::exchange(underQuestion, nullptr)();
        return questionAnswers.isEmpty() ? true : questionAnswers.dequeue();
    }
    void plainBox(const QString& text) override {
        shown.append({QStringLiteral("plain"), QString(), text, Icon::None});
        if (underQuestion)
            std::exchange(underQuestion, nullptr)();
    }
    void information(QWidget*, const QString& text) override {
        shown.append({QStringLiteral("information"), QString(), text, Icon::Information});
    }
    int choice(const QString& text, const QStringList&) override {
        shown.append({QStringLiteral("choice"), QString(), text, Icon::Question});
        return choices.isEmpty() ? -1 : choices.dequeue();
    }
    int actions(const QString& caption, const QString& text, const QStringList&) override {
        shown.append({QStringLiteral("actions"), caption, text, Icon::Information});
        return choices.isEmpty() ? -1 : choices.dequeue();
    }
    QString getText(QWidget*, const QString& title, const QString&, const QString&,
                    bool* ok) override {
        textTitles << title;
        if (ok)
            *ok = !texts.isEmpty();
        return texts.isEmpty() ? QString() : texts.dequeue();
    }
    QString getExistingDirectory(QWidget*, const QString&, const QString&) override {
        return directories.isEmpty() ? QString() : directories.dequeue();
    }
    int menu(QWidget*, const QStringList& items, const QList<bool>& enabled) override {
        menus << items;
        menusEnabled << enabled;
        return menuChoices.isEmpty() ? 0 : menuChoices.dequeue();
    }
    QString getOpenFileName(QWidget*, const QString&, const QString& dir, const QString&) override {
        fileDialogDirs << dir;
        return files.isEmpty() ? QString() : files.dequeue();
    }
};
