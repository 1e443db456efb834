#ifndef SHELLHELPERS_H
#define SHELLHELPERS_H

#include <QString>

// The program's bridge to the desktop and the file system. None of these shows a message;
// each reports by its result only and leaves alone whatever it failed to change. The desktop
// side (file manager, choice of program) goes through FileManagerBackend::instance().
//
// What Windows calls a junction is here a symbolic link to a directory: the link can be
// removed without touching what it points to, and a tree walk must not descend through it.

// Shows the file selected in a file manager window; a directory is opened itself, and a file
// the file manager cannot show (or that does not exist) has its folder opened instead.
bool showInExplorer(const QString &path);
// Opens the path with the program the desktop associates with it, or, when preferDialog is
// set and the path is a file, starts the dialog for choosing the program first. Each way falls
// back on the other.
bool openWith(const QString &path, bool preferDialog);

bool isJunction(const QString &path);
// Removes the link only; false when the path is not a junction.
bool removeJunction(const QString &path);
// Deletes the tree below the directory and then the directory; junctions inside are removed
// without entering them. A junction given as the path is removed as a link, its target kept.
// True when the directory itself is gone at the end.
bool removeDirectoryRecursively(const QString &path);
// Moves the path to the desktop's trash (freedesktop.org trash: the home trash for paths on
// its file system, the volume's own trash otherwise). False, with the path left where it was,
// when no trash can take it; it never deletes instead.
bool moveToRecycleBin(const QString &path);

// A new, private (owner-only) directory in the temporary directory, named after the
// application with an unpredictable ending; the caller removes it. Null on failure.
QString createTemporaryDirectory();

// Lower-case hexadecimal digests of the file's contents; null when the file cannot be read.
QString fileMd5(const QString &path);
QString fileSha1(const QString &path);

// A directory target gets a junction at linkPath, which must not exist yet; any other target
// gets a hard link, which atomically replaces whatever file is at linkPath. Nothing at linkPath
// is touched unless the new link is in place.
bool createLink(const QString &target, const QString &linkPath);

#endif // SHELLHELPERS_H
