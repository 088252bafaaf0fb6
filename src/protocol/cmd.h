// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMetaType>

// A request the simulated MCU sends to the Wi-Fi module on the user's demand.
// It travels from the command dialog to the simulated-MCU tab by signal, so it
// is a registered meta-type; the frame each value sends is stored under
// SettingKeys::storedFrameKey().
enum CMD {
    CMD_AIRLINK = 0,   // configuration request, mode 02
    CMD_SOFTAP = 1,    // configuration request, mode 01
    CMD_RESET = 2,     // module reset
    CMD_GETTIME = 3,   // network time request
    CMD_ONBORDING = 4, // binding mode
    CMD_STARTOTA = 5,  // ready to receive firmware
    CMD_TEST = 6,      // production-test mode
};
Q_DECLARE_METATYPE(CMD)
