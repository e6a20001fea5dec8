#include "dialogs.h"

#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace kel {

Dialogs::~Dialogs() = default;

namespace {

class WidgetDialogs : public Dialogs {
public:
    bool platformBox(const QString& caption, const QString& text, Icon icon) override {
        QMessageBox box;
        box.setWindowTitle(caption);
        box.setText(text);
        switch (icon) {
        case Icon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case Icon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case Icon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case Icon::None:
            break;
        }
        // A path or an error in the text can be copied.
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        if (icon == Icon::Question)
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        else
            box.setStandardButtons(QMessageBox::Ok);
        return box.exec() == QMessageBox::Ok;
    }

    void plainBox(const QString& text) override {
        QMessageBox box;
        box.setText(text);
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        box.setStandardButtons(QMessageBox::Ok);
        box.exec();
    }

    void information(QWidget* parent, const QString& text) override {
        QMessageBox::information(parent, QString(), text, QMessageBox::Ok);
    }

    int choice(const QString& text, const QStringList& buttons) override {
        static const QMessageBox::ButtonRole roles[] = {
            QMessageBox::AcceptRole, QMessageBox::DestructiveRole, QMessageBox::RejectRole};
        QMessageBox box;
        box.setText(text);
        QList<QAbstractButton*> added;
        for (int i = 0; i < buttons.size(); ++i)
            added << box.addButton(buttons[i], roles[qMin(i, 2)]);
        box.exec();
        return int(added.indexOf(box.clickedButton()));
    }

    int actions(const QString& caption, const QString& text, const QStringList& actions) override {
        QMessageBox box;
        box.setWindowTitle(caption);
        box.setIcon(QMessageBox::Information);
        box.setText(text);
        QList<QAbstractButton*> added;
        for (const QString& action : actions)
            added << box.addButton(action, QMessageBox::ActionRole);
        box.addButton(QStringLiteral("Fermer"), QMessageBox::RejectRole);
        box.exec();
        return int(added.indexOf(box.clickedButton()));
    }

    QString getText(QWidget* parent, const QString& title, const QString& label,
                    const QString& text, bool* ok) override {
        QInputDialog box(parent);
        box.setWindowTitle(title);
        box.setLabelText(label);
        box.setTextValue(text);
        // A box narrower than its title shows it cut ("Nom d... rtoire"): room for the title and
        // the frame's buttons.
        box.setMinimumWidth(box.fontMetrics().horizontalAdvance(title) + 160);
        const bool accepted = box.exec() == QDialog::Accepted;
        if (ok)
            *ok = accepted;
        return accepted ? box.textValue() : QString();
    }

    QString getExistingDirectory(QWidget* parent, const QString& caption,
                                 const QString& dir) override {
        const QString chosen = QFileDialog::getExistingDirectory(
            parent, caption, dialogStartFolder(dir), QFileDialog::ShowDirsOnly);
        if (!chosen.isEmpty())
            rememberDialogFolder(chosen);
        return chosen;
    }

    QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override {
        const QString chosen =
            QFileDialog::getOpenFileName(parent, caption, dialogStartFolder(dir), filter);
        if (!chosen.isEmpty())
            rememberDialogFolder(QFileInfo(chosen).absolutePath());
        return chosen;
    }

    int menu(QWidget* anchor, const QStringList& items, const QList<bool>& enabled) override {
        QMenu menu(anchor);
        QList<QAction*> added;
        for (int i = 0; i < items.size(); ++i) {
            added << menu.addAction(items[i]);
            added.last()->setEnabled(enabled.value(i, true));
        }
        const QPoint at =
            anchor ? anchor->mapToGlobal(QPoint(0, anchor->height())) : QCursor::pos();
        return int(added.indexOf(menu.exec(at)));
    }
};

const QString kLastFolderKey = QStringLiteral("dialogues/dernierDossier");

WidgetDialogs widgetDialogs;
Dialogs* current = &widgetDialogs;

} // namespace

Dialogs& dialogs() {
    return *current;
}

void setDialogs(Dialogs* d) {
    current = d ? d : &widgetDialogs;
}

QString dialogStartFolder(const QString& given) {
    if (!given.isEmpty())
        return given;
    const QString last =
        QSettings(QStringLiteral("KEL"), QStringLiteral("KEL")).value(kLastFolderKey).toString();
    // A folder since removed, or on a drive not plugged in, would open the dialog nowhere.
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    return QDir::homePath();
}

void rememberDialogFolder(const QString& folder) {
    if (folder.isEmpty())
        return;
    QSettings(QStringLiteral("KEL"), QStringLiteral("KEL"))
        .setValue(kLastFolderKey, QDir::cleanPath(QFileInfo(folder).absoluteFilePath()));
}

void warn(const QString& text) {
    warn(QStringLiteral("KEL"), text);
}

void warn(const QString& caption, const QString& text) {
    dialogs().platformBox(caption, text, Dialogs::Icon::Warning);
}

} // namespace kel
