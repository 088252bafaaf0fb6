// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Every file the program reads or writes lives in one folder, the root: the
// settings file, the pictures, the cached data-point definitions and the
// received firmware. This is the one place those paths come from; tests point
// it at a temporary folder with setRoot().
//
// Which folder is the root is decided once at start (chooseRoot()):
// - a copy of the program that carries its settings file beside the
//   executable and may write there (the build folder, a portable copy) keeps
//   everything beside the executable, as it always did;
// - an installed program (bin/lumo with its files in ../share/lumo) and a copy
//   in a folder it cannot write to keep their files in the user's data folder
//   (~/.local/share/lumo, or $XDG_DATA_HOME/lumo), filled at start with the
//   shipped files that are missing there. A file already there is never
//   replaced, so the user's settings survive every start and every upgrade.
namespace AppPaths {

// The folder everything else is relative to: the folder chosen by setRoot()
// or chooseRoot(), or the program's directory before either was called.
QString root();
void setRoot(const QString &dir);

QString settingsFile();                 // root + "/auto_analyze.ini"
QString imageFile(const QString &name); // root + "/image/" + name
QString jsonDir();                      // root + "/json"
QString binDir();                       // root + "/bin"

// The style sheet that draws root/image/<name> stretched over a label.
QString borderImageStyle(const QString &imageName);

// Decides the root for this run as described above, fills the user's data
// folder when that is the one chosen, makes it the root and returns it.
// Problems (a data folder that cannot be created, a file that cannot be
// copied) are reported through qWarning; the program still starts with the
// files it has.
QString chooseRoot();

// The files an installed program ships: <program folder>/../share/lumo.
QString installedRuntimeDir();
// Where the user's own copy lives: $XDG_DATA_HOME/lumo or ~/.local/share/lumo.
QString userDataDir();

// True when a file can actually be created in dir. Asking the file system
// for permission bits is not enough: root passes every permission check but
// still cannot write to a read-only mount.
bool canCreateFiles(const QString &dir);

// Copies the shipped files under `from` (the settings file and the image/,
// dpserver/ and json/ folders) that are missing under `to`, leaves files already in `to` untouched,
// makes the copies writable by their owner and creates the json/ and bin/ folders the program
// writes into. Returns false if a folder could not be created or a file could
// not be copied; everything that could be copied is copied regardless.
bool seedMissing(const QString &from, const QString &to);

} // namespace AppPaths
