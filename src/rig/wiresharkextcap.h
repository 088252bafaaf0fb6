// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

// lumo-capture's side of Wireshark's external-capture (extcap) protocol.
// Wireshark runs every program in its extcap folders with
// --extcap-interfaces and lists what each offers; picking one asks for its
// link types (--extcap-dlts) and its options (--extcap-config), and starting
// a capture runs it with --capture --fifo PATH and the options chosen, as
// the command line it describes. The answers are lines of {key=value}
// fields, one sentence each.
class WiresharkExtcap
{
public:
    // The interface's name on Wireshark's side (-i lumo) and its display.
    static QString interfaceName();
    static QString interfaceDisplay();

    static QString interfacesAnswer(const QString &version);
    static QString dltsAnswer();
    // The ports offered in the port selectors are `ports`. Wireshark 4.2
    // and later can take a typed address instead (a path the list lacks, a
    // network line) where `editable`; 4.0 knows no editable selector and
    // drops an option that asks for one, so it gets a plain list.
    static QString configAnswer(const QStringList &ports, bool editable);
    // Whether Wireshark `version` ("4.2", "4.2.5"; empty when it gave none)
    // has the editable selector.
    static bool hasEditableSelector(const QString &version);

    // The user's folders Wireshark looks in, from HOME and XDG_CONFIG_HOME:
    // extcap programs in ~/.config/wireshark/extcap up to 4.0 and in
    // ~/.local/lib/wireshark/extcap from 4.2 on; Lua plugins in
    // ~/.local/lib/wireshark/plugins for both.
    static QStringList userExtcapDirs();
    static QString userPluginDir();

    // Puts a script that runs `program` into each extcap folder (so the
    // build folder's program keeps being the one Wireshark runs) and a copy
    // of `dissector` into the plugin folder. The paths written go to
    // *installed; false, with *error, at the first that cannot be written.
    static bool installForUser(const QString &program, const QString &dissector,
                               QStringList *installed, QString *error);
};
