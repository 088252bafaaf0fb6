// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QStringList>

// The four preset lines of the dual tab, as hex text: the frames a developer
// most often injects by hand, in protocol version 3 or version 4.
//
//   line 1  "初始化"        v4: module reset request (0x0B)
//   line 2  "AirLink"       v4: configuration request (0x09), mode 02
//   line 3  "询问产品信息"  v4: product information request (0x01)
//   line 4  "product_key"   a product information reply carrying the sample
//                           product key; v4: reply 0x02, sequence number 01,
//                           checksum included
// Version 3 lines are written in lower case, version 4 lines in upper case.
namespace PresetFrames {

// The product key the fourth line carries.
inline const QByteArray SampleProductKey = QByteArrayLiteral("5d1c7a90e4b3f2068a9c1e7d3b5f0a24");

QStringList version3();
QStringList version4();

} // namespace PresetFrames
