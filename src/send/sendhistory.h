// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

class ZemTool;

// The last sends of one box, recalled with Up (older) and Down (newer) as a
// shell recalls its commands. A send equal to the newest entry adds none.
// Browsing starts below the newest entry, at the text being typed, which
// Down past the newest gives back.
//
// Kept in the settings as a JSON array of texts, oldest first.
class SendHistory
{
public:
    static constexpr int MaxEntries = 100;

    int size() const { return int(m_entries.size()); }
    // Oldest first.
    const QStringList &entries() const { return m_entries; }

    // Adds a sent text (blank texts are not kept) and ends browsing.
    void add(const QString &text);
    // The entry before the one shown (`current` is the text in the box,
    // kept when browsing starts); false at the oldest.
    bool older(const QString &current, QString *text);
    // The entry after the one shown, or the text typed before browsing;
    // false when not browsing.
    bool newer(QString *text);
    // Ends browsing (the user typed).
    void resetBrowsing() { m_pos = -1; }

    void load(const ZemTool *settings, const QString &key);
    void save(ZemTool *settings, const QString &key) const;

private:
    QStringList m_entries;
    int m_pos = -1; // the entry shown while browsing; -1 not browsing
    QString m_typed;
};
