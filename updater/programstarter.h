#ifndef PROGRAMSTARTER_H
#define PROGRAMSTARTER_H

#include <QString>

#include <optional>

// The two programs of the installation that the updater starts, relative to the current directory.
namespace Programs {

inline const QString prerequisitesInstaller =
    QStringLiteral("App/Engine/Extras/Redist/en-us/UE4PrereqSetup_x64.exe");
inline const QString application = QStringLiteral("App/QOR.exe");

} // namespace Programs

// Starts the program at path (relative to the current directory) as a detached process, without
// arguments, in the current directory, and does not wait for it. A file fetched over HTTP carries no
// run bit, so outside Windows it is given one first. Why the program did not start, if it did not.
[[nodiscard]] std::optional<QString> StartProgramProblem(const QString &path);

#endif // PROGRAMSTARTER_H
