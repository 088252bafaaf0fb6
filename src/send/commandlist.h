// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

class ZemTool;

// The named frames of a tab that the user stores, edits, reorders and sends
// with one click. A command keeps its hex text as typed (it may hold "??"
// for the length, see FrameCompletion): it is sent through a send box, which
// completes it or not as that box is set.
//
// The list is kept in the settings as the JSON text of the export file, so
// an exported file and the stored list are one format:
//
//   {"format": "lumo-commands", "version": 1,
//    "commands": [{"name": "心跳", "hex": "FF FF ?? 07 01 00 00"}, ...]}
//
// Reading refuses a text that is no such document and says why; the list
// is then left as it was.
class CommandList
{
public:
    struct Command
    {
        QString name;
        QString hex;
        bool operator==(const Command &o) const { return name == o.name && hex == o.hex; }
    };

    int size() const { return int(m_commands.size()); }
    bool isEmpty() const { return m_commands.isEmpty(); }
    const Command &at(int i) const { return m_commands.at(i); }
    const QVector<Command> &commands() const { return m_commands; }

    void add(const Command &command) { m_commands.append(command); }
    // Out-of-range indexes change nothing and give false.
    bool replace(int i, const Command &command);
    bool remove(int i);
    // Moves the command at `from` to index `to`.
    bool move(int from, int to);

    // The export file's text; `compact` on one line, as the settings keep it.
    QByteArray toJson(bool compact = false) const;
    // Takes the commands of a document made by toJson(); on failure the list
    // is unchanged and *error (when given) says what is wrong, in the
    // window's words.
    bool fromJson(const QByteArray &json, QString *error = nullptr);

    // The list stored under `key`; a missing or damaged value gives the
    // empty list.
    void load(const ZemTool *settings, const QString &key);
    void save(ZemTool *settings, const QString &key) const;

    // The export file; false with *error when it cannot be written or read.
    bool exportTo(const QString &path, QString *error = nullptr) const;
    bool importFrom(const QString &path, QString *error = nullptr);

private:
    QVector<Command> m_commands;
};
