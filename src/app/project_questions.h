#pragma once

#include "project/project_session.h"

#include <QString>

#include <optional>

class QWidget;

namespace kel {

// The questions the main window asks the teacher about the project, each with its French texts
// and its failure messages; the answers go back to the window, which acts on them.

// The folder of a new project, made once named and placed; empty when cancelled or refused (told).
QString askNewProjectDir(QWidget* parent);
// A project folder from the recent ones (under `anchor`) or the folder dialog, empty when none
// was chosen there; none when the teacher closed the menu or chose a missing project.
std::optional<QString> askProjectToOpen(QWidget* anchor);
// Asks for `number`'s title and stores it; false when cancelled.
bool askTitle(QWidget* parent, ProjectSession& session, int number);
// Whether the comments made on `previous` belong to `chosen`.
enum class OtherVideo { Keep, NewProject, Cancel };
OtherVideo askAboutOtherVideo(const QString& previous, const QString& chosen);
// What "Ne pas enregistrer" undoes, and what it cannot bring back.
QString discardWarning(const ProjectSession::Changes& changes);

} // namespace kel
