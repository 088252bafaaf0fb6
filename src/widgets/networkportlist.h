// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QStringList>

class ZemTool;

// The network lines offered in every port field, kept in the settings file
// (SettingKeys::NetworkLines). One object of the process tells every port
// field when the list changed, so that a line added in one field is offered
// in all of them at once.
class NetworkPortList : public QObject
{
    Q_OBJECT
public:
    // More is no list a person picks from; the rest of an odd file is skipped.
    static constexpr int MaxLines = 32;

    static NetworkPortList *instance();

    // The stored lines in their plain form, each once; entries that are no
    // network address are skipped.
    static QStringList read(const ZemTool *settings);
    // Adds `address` (when it is one and not listed yet) or removes it.
    void add(ZemTool *settings, const QString &address);
    void remove(ZemTool *settings, const QString &address);

signals:
    void changed();

private:
    using QObject::QObject;
    void write(ZemTool *settings, const QStringList &lines);
};
