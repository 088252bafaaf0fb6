// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "protocol/cmd.h"
#include "protocol/frameformat.h"

#include <QString>

// Keys of the settings file "auto_analyze.ini" (INI groups written group/key).
namespace SettingKeys {

inline const QString ProductKey = QStringLiteral("product_key/key");
inline const QString Environment = QStringLiteral("environment/environment");
inline const QString SoftVersion = QStringLiteral("setting/softver");
inline const QString HardVersion = QStringLiteral("setting/hardver");
inline const QString UploadTime = QStringLiteral("setting/uploadtime");
inline const QString OtaPiece = QStringLiteral("setting/otapiece");
inline const QString OtaType = QStringLiteral("setting/otatype");
inline const QString BindingTime = QStringLiteral("setting/bordingtime");
inline const QString ModuleType = QStringLiteral("setting/moduletype");
// Whether the simulated-MCU tab answers a firmware start (0x19) with its
// 0x1B at once, as the headless MCU does, instead of waiting for the user's
// "开始接收固件": "true" or "false" (missing: off).
inline const QString OtaAutoStart = QStringLiteral("setting/otaautostart");

// The values of "setting/otatype" and "setting/moduletype" the program acts on.
inline const QString OtaTypeHex = QStringLiteral("hex");
inline const QString ModuleTypeCentral = QStringLiteral("central");

// The stored key that means "no product key entered yet".
inline const QString PlaceholderProductKey = QStringLiteral("10293847561029384756102938475610");

// The user's last choices, restored at the next start. Each port form keeps
// its choices in a group of its own: the port's name, the baud rate as the
// combo shows it, and the indexes of the data-bits, stop-bits and parity
// combos (the indexes the port is opened with).
inline const QString McuPortGroup = QStringLiteral("mcu_port");
inline const QString DualPort1Group = QStringLiteral("dual_port1");
inline const QString DualPort2Group = QStringLiteral("dual_port2");
inline QString portNameKey(const QString &group)
{
    return group + QStringLiteral("/name");
}
inline QString baudRateKey(const QString &group)
{
    return group + QStringLiteral("/baud");
}
inline QString dataBitsKey(const QString &group)
{
    return group + QStringLiteral("/databits");
}
inline QString stopBitsKey(const QString &group)
{
    return group + QStringLiteral("/stopbits");
}
inline QString parityKey(const QString &group)
{
    return group + QStringLiteral("/parity");
}

// The network lines offered in every port field after the local ports
// ("tcp://HOST:PORT" or "rfc2217://HOST:PORT"), separated by blanks, in the
// order they were added. Entries that are no such address are skipped.
inline const QString NetworkLines = QStringLiteral("network/lines");

// The dual tab's bridge switch and "三版换行", "true" or "false".
inline const QString DualBridge = QStringLiteral("dual/bridge");
inline const QString DualV3NewLine = QStringLiteral("dual/v3newline");
// Whether a session capture starts by itself when a port opens, "true" or
// "false" (missing: off).
inline const QString AnalyzerAutoRecord = QStringLiteral("analyzer/autorecord");
// The text of the product-key field as the user left it (which need not be
// the key stored by "保存").
inline const QString ProductKeyField = QStringLiteral("mcu/productkey_field");
// The data-point values the user set, one entry per product key (see
// DataPointValues::savedText).
inline QString dataPointValuesKey(const QString &productKey)
{
    return QStringLiteral("datapoint_values/") + productKey;
}
// The data points the analyzer's chart shows for a product key, a JSON
// array of their names.
inline QString dataPointChartKey(const QString &productKey)
{
    return QStringLiteral("datapoint_chart/") + productKey;
}

// The send boxes: each keeps its "自动补全帧", "序号自增", periodic interval
// and count and its history in a group of its own (see SendControls); each
// tab keeps its command list (see CommandList) under one key.
inline const QString DualSend1Group = QStringLiteral("dual_send1");
inline const QString DualSend2Group = QStringLiteral("dual_send2");
inline const QString McuSendGroup = QStringLiteral("mcu_send");
inline const QString DualCommands = QStringLiteral("dual/commands");
inline const QString McuCommands = QStringLiteral("mcu/commands");

// Two upper-case hex digits, the form every code takes inside a key.
inline QString hexCode(int value)
{
    return QString::number(value & 0xFF, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// Reply template for a reply code, e.g. 0x02 -> "Respond/02".
inline QString respondKey(int replyCode)
{
    return QStringLiteral("Respond/") + hexCode(replyCode);
}
inline QString respondKey(Frame::Command reply)
{
    return respondKey(Frame::code(reply));
}

// Frames the command dialog sends to the module, stored whole as hex text
// ("Defaule" is how the settings file has always spelled the group).
inline const QString StoredTestMode = QStringLiteral("Defaule/413");      // 0x13 production test
inline const QString StoredBindingMode = QStringLiteral("Defaule/415");   // 0x15 binding mode
inline const QString StoredTimeRequest = QStringLiteral("Defaule/417");   // 0x17 network time
inline const QString StoredFirmwareReady = QStringLiteral("Defaule/41B"); // 0x1B body, no checksum
inline const QString StoredSoftAp = QStringLiteral("Defaule/491");        // 0x09 mode 01
inline const QString StoredAirLink = QStringLiteral("Defaule/492");       // 0x09 mode 02
inline const QString StoredReset = QStringLiteral("Defaule/4B");          // 0x0B module reset

// The stored frame a module command sends; the firmware request is built
// from its stored body.
inline QString storedFrameKey(CMD cmd)
{
    switch (cmd) {
    case CMD_AIRLINK:
        return StoredAirLink;
    case CMD_SOFTAP:
        return StoredSoftAp;
    case CMD_RESET:
        return StoredReset;
    case CMD_GETTIME:
        return StoredTimeRequest;
    case CMD_ONBORDING:
        return StoredBindingMode;
    case CMD_STARTOTA:
        return StoredFirmwareReady;
    case CMD_TEST:
        return StoredTestMode;
    }
    return QString(); // a value no button sends
}

// Description texts of the frame describer.
inline QString commandDescriptionKey(const QString &suffix)
{
    return QStringLiteral("cmd/") + suffix;
}
inline QString setModeKey(int mode)
{
    return QStringLiteral("setmode/") + hexCode(mode);
}
inline QString connectKey(int state)
{
    return QStringLiteral("connect/") + hexCode(state);
}
inline QString wifiStateKey(int state)
{
    return QStringLiteral("wifistate/") + hexCode(state);
}
inline QString hasConnectKey(int flag)
{
    return QStringLiteral("hasconnect/") + hexCode(flag);
}

} // namespace SettingKeys
