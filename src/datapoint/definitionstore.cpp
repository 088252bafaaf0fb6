// SPDX-License-Identifier: GPL-3.0-or-later
#include "datapoint/definitionstore.h"

#include "base/apppaths.h"
#include "datapoint/zemjson.h"
#include "protocol/settingkeys.h"
#include "protocol/zemproductkey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMetaObject>

DefinitionStore::DefinitionStore(ZemTool *settings, QObject *parent)
    : QObject(parent)
    , m_json(new ZemJson(settings, this))
{
    qRegisterMetaType<DataPointDefinition>("DataPointDefinition");
    connect(m_json, &ZemJson::json_stat, this, &DefinitionStore::onStored);
    connect(m_json, &ZemJson::fetchFailed, this, &DefinitionStore::onFetchFailed);
}

bool DefinitionStore::namesProduct(const QString &productKey)
{
    return !productKey.isEmpty() && productKey != SettingKeys::PlaceholderProductKey;
}

QStringList DefinitionStore::cachedKeys() const
{
    QStringList keys;
    const QStringList files
        = QDir(AppPaths::jsonDir()).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        const QString key = file.chopped(5);
        if (ZemProductKey::isUsableKey(key))
            keys.append(key);
    }
    return keys;
}

bool DefinitionStore::isCached(const QString &productKey) const
{
    return ZemProductKey::isUsableKey(productKey)
        && QFileInfo(ZemJson::cachePath(productKey)).isFile();
}

bool DefinitionStore::load(const QString &productKey, DataPointDefinition *definition,
                           QString *problem) const
{
    auto refuse = [problem](const QString &why) {
        if (problem)
            *problem = why;
        return false;
    };
    *definition = DataPointDefinition();
    if (!ZemProductKey::isUsableKey(productKey))
        return refuse(QStringLiteral("product_key只能由字母和数字组成"));
    QFile file(ZemJson::cachePath(productKey));
    if (!file.exists())
        return refuse(QStringLiteral("没有%1的数据点定义").arg(productKey));
    if (!file.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("无法读取%1").arg(file.fileName()));
    if (file.size() > m_json->maxBodySize())
        return refuse(QStringLiteral("%1过大").arg(file.fileName()));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        return refuse(QStringLiteral("%1不是JSON：%2").arg(file.fileName(), error.errorString()));
    if (doc.isObject())
        *definition = DataPointDefinition::fromJson(doc.object());
    return true;
}

void DefinitionStore::obtain(const QString &productKey)
{
    DataPointDefinition definition;
    if (isCached(productKey) && load(productKey, &definition)) {
        // Callers connect after asking; the answer comes from the event loop.
        QMetaObject::invokeMethod(
            this, [this, productKey, definition] { emit ready(productKey, definition); },
            Qt::QueuedConnection);
        return;
    }
    fetch(productKey);
}

void DefinitionStore::fetch(const QString &productKey)
{
    m_fetching.append(productKey);
    QDir().mkpath(AppPaths::jsonDir());
    m_json->getJson(productKey);
}

bool DefinitionStore::busy() const
{
    return !m_fetching.isEmpty();
}

void DefinitionStore::onStored(bool ok)
{
    if (m_fetching.isEmpty())
        return;
    const QString key = m_fetching.takeFirst();
    if (!ok) {
        emit failed(key, m_json->lastFetchDetail(), true);
        return;
    }
    DataPointDefinition definition;
    QString problem;
    if (!load(key, &definition, &problem)) {
        emit failed(key, problem, false);
        return;
    }
    emit ready(key, definition);
}

void DefinitionStore::onFetchFailed(const QString &reason)
{
    if (m_fetching.isEmpty())
        return;
    emit failed(m_fetching.takeFirst(), reason, false);
}
