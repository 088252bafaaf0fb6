#include "datapoint/zemjson.h"

#include "app/apppaths.h"
#include "datapoint/datapointcodec.h"
#include "engine/settingkeys.h"
#include "protocol/zemtool.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QUrl>

namespace {
// Each reply remembers the cache file of the key it was asked for, so that
// replies arriving in any order, or after a parse of another key, are stored
// under their own product.
const char CachePathProperty[] = "lumoCachePath";
// Set when the body outgrew the limit and the reply was aborted.
const char TooLargeProperty[] = "lumoTooLarge";
} // namespace

ZemJson::ZemJson(QObject *parent)
    : QObject(parent)
    , m_tool(new ZemTool(this))
{
    // ListOk may travel through a queued connection.
    qRegisterMetaType<json_struct>("json_struct");
    qRegisterMetaType<QList<json_struct>>("QList<json_struct>");
}

QString ZemJson::cachePath(const QString &productKey)
{
    return AppPaths::jsonDir() + QLatin1Char('/') + productKey + QStringLiteral(".json");
}

bool ZemJson::isUsableKey(const QString &productKey)
{
    if (productKey.isEmpty() || productKey.size() > 128)
        return false;
    for (const QChar c : productKey) {
        const ushort u = c.unicode();
        const bool ok = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
        if (!ok)
            return false;
    }
    return true;
}

void ZemJson::getJson(const QString &productKey)
{
    m_jsonPath = cachePath(productKey);
    const QString environment = m_tool->readSetting(SettingKeys::Environment);
    qDebug() << "111" << environment;
    if (!isUsableKey(productKey)) {
        // Such a key could point the cache file outside "json/"; it is
        // answered like a key the service refused, but never sent out.
        qDebug() << "in_getjson: unusable product key" << productKey;
        QMetaObject::invokeMethod(this, "json_stat", Qt::QueuedConnection, Q_ARG(bool, false));
        return;
    }

    const QString address = QStringLiteral("http://") + environment
                            + QStringLiteral("/v2/datapoint?product_key=") + productKey
                            + QStringLiteral("&format=json");
    qDebug() << address;

    if (!m_manager) {
        m_manager = new QNetworkAccessManager(this);
        connect(m_manager, &QNetworkAccessManager::finished, this, &ZemJson::replyFinished);
    }
    QNetworkRequest request{QUrl(address)};
    // Abandon a fetch that hears nothing for this long; it then finishes with
    // an error and counts as a network failure.
    request.setTransferTimeout(m_transferTimeoutMs);
    QNetworkReply *reply = m_manager->get(request);
    reply->setProperty(CachePathProperty, m_jsonPath);
    connect(reply, &QNetworkReply::downloadProgress, this,
            [this, reply](qint64 received, qint64 total) {
                onDownloadProgress(reply, received, total);
            });
    ++m_pending;
    qDebug() << "in_getjson";
}

void ZemJson::onDownloadProgress(QNetworkReply *reply, qint64 received, qint64 total)
{
    if (received <= m_maxBodySize && total <= m_maxBodySize)
        return;
    if (reply->property(TooLargeProperty).toBool())
        return;
    reply->setProperty(TooLargeProperty, true);
    reply->abort();
}

void ZemJson::replyFinished(QNetworkReply *reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    const QString path = reply->property(CachePathProperty).toString();
    if (!path.isEmpty() && m_pending > 0)
        --m_pending;
    qDebug() << "in_reply";

    if (reply->property(TooLargeProperty).toBool() || reply->bytesAvailable() > m_maxBodySize) {
        qDebug() << "in_reply: answer larger than" << m_maxBodySize << "bytes, ignored";
        return;
    }
    // Our own abort (time-out) may leave a partial body behind: never use it.
    if (reply->error() == QNetworkReply::OperationCanceledError) {
        qDebug() << "in_reply: fetch abandoned";
        return;
    }
    const QByteArray body = reply->readAll();

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return;
    if (doc.object().contains(QLatin1String("errors"))) {
        emit json_stat(false);
        return;
    }
    // Any other object is a definition only when the service said so: an
    // error page in JSON (a gateway's 502, say) must not replace a good cache.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299)) {
        qDebug() << "in_reply: HTTP status" << status.toInt() << "without a definition";
        return;
    }
    if (path.isEmpty())
        return;

    QDir().mkpath(QFileInfo(path).path());
    // Written to a temporary file and renamed over the cache file: a failed
    // write never leaves a truncated definition behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit()) {
        qDebug() << "in_reply: cannot write" << path;
        return;
    }
    emit json_stat(true);
}

void ZemJson::loadJson(const QString &productKey)
{
    m_def = DataPointDefinition();
    m_jsonPath = cachePath(productKey);
    if (!isUsableKey(productKey))
        return;

    QFile file(m_jsonPath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    if (file.size() > m_maxBodySize)
        return;
    const QByteArray text = file.readAll();
    file.close();

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError)
        return;
    if (doc.isObject())
        m_def = DataPointDefinition::fromJson(doc.object());
    emit ListOk(m_def.records());
}

QByteArray ZemJson::makeReportFrame() const
{
    return DataPointCodec::makeReportFrame(m_def);
}

QByteArray ZemJson::setValue(QByteArray &frame, const QString &displayName, int value) const
{
    DataPointCodec::setValue(m_def, frame, displayName, value);
    return frame;
}

QByteArray ZemJson::setBytes(QByteArray &frame, const QString &displayName,
                             const QByteArray &bytes) const
{
    DataPointCodec::setBytes(m_def, frame, displayName, bytes);
    return frame;
}

QByteArray ZemJson::intToBytes(int value, int width)
{
    return DataPointCodec::intToBytes(value, width);
}

quint16 ZemJson::GetBits(const QByteArray &data, int byteOffset, unsigned bitOffset,
                         unsigned bitLen, bool fromEnd)
{
    return DataPointCodec::getBits(data, byteOffset, bitOffset, bitLen, fromEnd);
}

QMap<QString, QString> ZemJson::decodeControl(const QByteArray &frame) const
{
    return DataPointCodec::decodeControl(m_def, frame);
}
