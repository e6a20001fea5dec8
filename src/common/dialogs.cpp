#include "dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

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
        if (icon == Icon::Question)
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        else
            box.setStandardButtons(QMessageBox::Ok);
        return box.exec() == QMessageBox::Ok;
    }

    void plainBox(const QString& text) override {
        QMessageBox box;
        box.setText(text);
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
        return QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, ok);
    }

    QString getExistingDirectory(QWidget* parent, const QString& caption) override {
        return QFileDialog::getExistingDirectory(parent, caption, QString(),
                                                 QFileDialog::ShowDirsOnly);
    }

    QString getOpenFileName(QWidget* parent, const QString& caption, const QString& dir,
                            const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, caption, dir, filter);
    }
};

WidgetDialogs widgetDialogs;
Dialogs* current = &widgetDialogs;

} // namespace

Dialogs& dialogs() {
    return *current;
}

void setDialogs(Dialogs* d) {
    current = d ? d : &widgetDialogs;
}

void warn(const QString& text) {
    warn(QStringLiteral("KEL"), text);
}

void warn(const QString& caption, const QString& text) {
    dialogs().platformBox(caption, text, Dialogs::Icon::Warning);
}

} // namespace kel
