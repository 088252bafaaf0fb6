#pragma once

#include <QString>

// Every file the program reads or writes lives beside the executable: the
// settings file, the pictures, the cached data-point definitions and the
// received firmware. This is the one place those paths come from; tests point
// it at a temporary folder with setRoot().
namespace AppPaths {

// The folder everything else is relative to: the program's directory unless
// setRoot() chose another one.
QString root();
void setRoot(const QString &dir);

QString settingsFile();                 // root + "/auto_analyze.ini"
QString imageFile(const QString &name); // root + "/image/" + name
QString jsonDir();                      // root + "/json"
QString binDir();                       // root + "/bin"

// The style sheet that draws root/image/<name> stretched over a label.
QString borderImageStyle(const QString &imageName);

} // namespace AppPaths
