// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The few places where Qt 5 and Qt 6 spell the same thing differently, so
// that the rest of the program reads the same with either.
namespace QtCompat {

// The folder holding Qt's own translations (qtbase_zh_CN.qm and friends).
QString translationsPath();

} // namespace QtCompat
