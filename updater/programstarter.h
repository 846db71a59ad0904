#ifndef PROGRAMSTARTER_H
#define PROGRAMSTARTER_H

#include <QString>

// Starts the program at path (relative to the current directory) as a detached process, without
// arguments, in the current directory, and does not wait for it. A file fetched over HTTP carries no
// run bit, so outside Windows it is given one first. Whether the program really started is not
// reported: the updater goes on either way.
void StartProgram(const QString &path);

#endif // PROGRAMSTARTER_H
