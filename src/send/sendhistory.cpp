// SPDX-License-Identifier: GPL-3.0-or-later
#include "send/sendhistory.h"

#include "protocol/zemtool.h"

#include <QJsonArray>
#include <QJsonDocument>

void SendHistory::add(const QString &text)
{
    m_pos = -1;
    if (text.trimmed().isEmpty() || (!m_entries.isEmpty() && m_entries.constLast() == text))
        return;
    m_entries.append(text);
    while (m_entries.size() > MaxEntries)
        m_entries.removeFirst();
}

bool SendHistory::older(const QString &current, QString *text)
{
    if (m_entries.isEmpty() || m_pos == 0)
        return false;
    if (m_pos < 0) {
        m_typed = current;
        m_pos = int(m_entries.size());
    }
    *text = m_entries.at(--m_pos);
    return true;
}

bool SendHistory::newer(QString *text)
{
    if (m_pos < 0)
        return false;
    if (++m_pos >= m_entries.size()) {
        m_pos = -1;
        *text = m_typed;
    } else {
        *text = m_entries.at(m_pos);
    }
    return true;
}

void SendHistory::load(const ZemTool *settings, const QString &key)
{
    m_entries.clear();
    m_pos = -1;
    const QJsonArray list = QJsonDocument::fromJson(settings->readSetting(key).toUtf8()).array();
    for (const QJsonValue &v : list)
        if (v.isString())
            m_entries.append(v.toString());
    while (m_entries.size() > MaxEntries)
        m_entries.removeFirst();
}

void SendHistory::save(ZemTool *settings, const QString &key) const
{
    const QJsonDocument doc(QJsonArray::fromStringList(m_entries));
    settings->writeSetting(key, QString::fromUtf8(doc.toJson(QJsonDocument::Compact)));
}
