#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace kel {

// Every message box and file dialog of the windows goes through here, so that tests can answer
// them without a person (install a ScriptedDialogs with setDialogs()).
class Dialogs {
public:
    enum class Icon { None, Information, Warning, Question };

    virtual ~Dialogs();

    // Blocking box without owner window, with caption, text and icon. For Icon::Question the box
    // has OK and Cancel and the result tells whether OK was chosen; otherwise it has OK alone.
    virtual bool platformBox(const QString& caption, const QString& text, Icon icon) = 0;
    // The toolkit's modal box without parent and without title: a text and an OK button.
    virtual void plainBox(const QString& text) = 0;
    // QMessageBox::information with a parent, an empty title and Ok.
    virtual void information(QWidget* parent, const QString& text) = 0;
    // A box with several buttons (accept, destructive, reject roles in that order of the list);
    // returns the index of the chosen button, or -1 when the box was closed otherwise.
    virtual int choice(const QString& text, const QStringList& buttons) = 0;
    // An information box whose buttons each do something, then "Fermer"; returns the index of
    // the action chosen, or -1 when closed.
    virtual int actions(const QString& caption, const QString& text,
                        const QStringList& actions) = 0;

    // Empty string when cancelled; `ok`, when given, tells a cancel from an empty answer. The
    // line starts with `text`.
    virtual QString getText(QWidget* parent, const QString& title, const QString& label,
                            const QString& text = QString(), bool* ok = nullptr) = 0;
    // Without `dir`, the real dialogs open in the last folder chosen (dialogStartFolder()).
    virtual QString getExistingDirectory(QWidget* parent, const QString& caption,
                                         const QString& dir = QString()) = 0;
    virtual QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                                    const QString& filter) = 0;
    // A menu of `items` under `anchor` (at the pointer without one); an item whose `enabled` is
    // false cannot be chosen. Returns the index chosen, or -1 when closed.
    virtual int menu(QWidget* anchor, const QStringList& items, const QList<bool>& enabled) = 0;
};

// The folder a file dialog opens in: `given` when the caller names one, else the last folder
// chosen in one while it still exists, else the home folder.
QString dialogStartFolder(const QString& given);
// Remembers `folder` (in the user's settings) as the last one chosen in a file dialog.
void rememberDialogFolder(const QString& folder);

// The dialogs in use; real widgets unless a test installed its own. Ownership stays with the
// caller.
Dialogs& dialogs();
void setDialogs(Dialogs* d);

// A warning box (platformBox with the warning icon), "KEL" as caption unless given.
void warn(const QString& text);
void warn(const QString& caption, const QString& text);

} // namespace kel
