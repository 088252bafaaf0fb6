// SPDX-License-Identifier: GPL-3.0-or-later
#include "datapoint/zemjson.h"

#include "base/apppaths.h"
#include "datapoint/datapointcodec.h"
#include "protocol/settingkeys.h"
#include "protocol/zemproductkey.h"
#include "protocol/zemtool.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QTimer>
#include <QUrl>

namespace {
// Each reply remembers the cache file of the key it was asked for, so that
// replies arriving in any order, or after a parse of another key, are stored
// under their own product.
const char CachePathProperty[] = "lumoCachePath";
// Set when the body outgrew the limit and the reply was aborted.
const char TooLargeProperty[] = "lumoTooLarge";
// Set when the fetch's time was up and the reply was aborted.
const char TimedOutProperty[] = "lumoTimedOut";

// Error codes below this one are the connection's own (refused, host not
// found, closed before the whole body arrived, proxy trouble): whatever body
// came is not the service's complete answer. Codes from here on stand for
// HTTP statuses, whose body still decides.
constexpr int FirstHttpErrorCode = QNetworkReply::ContentAccessDenied;

// What the user reads about a service's refusal: its "errors" value, short.
QString refusalText(const QJsonValue &errors)
{
    QString text;
    if (errors.isObject())
        text = QString::fromUtf8(QJsonDocument(errors.toObject()).toJson(QJsonDocument::Compact));
    else if (errors.isArray())
        text = QString::fromUtf8(QJsonDocument(errors.toArray()).toJson(QJsonDocument::Compact));
    else
        text = errors.toVariant().toString();
    if (text.size() > 200)
        text = text.left(200) + QStringLiteral("…");
    return QStringLiteral("定义服务不认识这个product_key，答复：") + text;
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0);
}
} // namespace

ZemJson::ZemJson(QObject *parent)
    : ZemJson(nullptr, parent)
{ }

ZemJson::ZemJson(ZemTool *settings, QObject *parent)
    : QObject(parent)
    , m_tool(settings ? settings : new ZemTool(this))
{
    // ListOk may travel through a queued connection.
    qRegisterMetaType<json_struct>("json_struct");
    qRegisterMetaType<QList<json_struct>>("QList<json_struct>");
}

QString ZemJson::cachePath(const QString &productKey)
{
    return AppPaths::jsonDir() + QLatin1Char('/') + productKey + QStringLiteral(".json");
}

void ZemJson::getJson(const QString &productKey)
{
    m_jsonPath = cachePath(productKey);
    const QString environment = m_tool->readSetting(SettingKeys::Environment);
    if (!ZemProductKey::isUsableKey(productKey)) {
        // Such a key could point the cache file outside "json/"; it is
        // answered like a key the service refused, but never sent out.
        qDebug() << "in_getjson: unusable product key" << productKey;
        m_lastFetchDetail = QStringLiteral("product_key只能由字母和数字组成");
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
    QNetworkReply *reply = m_manager->get(request);
    reply->setProperty(CachePathProperty, m_jsonPath);
    // One deadline for the whole answer: a service that accepts and never
    // answers, or trickles a byte now and then, ends the fetch all the same.
    auto *deadline = new QTimer(reply);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, reply, [reply] {
        reply->setProperty(TimedOutProperty, true);
        reply->abort();
    });
    deadline->start(m_fetchTimeoutMs);
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

void ZemJson::fail(const QString &reason)
{
    qDebug().noquote() << "in_reply:" << reason;
    m_lastFetchDetail = reason;
    emit fetchFailed(reason);
}

void ZemJson::replyFinished(QNetworkReply *reply)
{
    if (!reply)
        return;
    reply->deleteLater();
    const QString path = reply->property(CachePathProperty).toString();
    if (path.isEmpty())
        return; // not a fetch of ours
    if (m_pending > 0)
        --m_pending;
    qDebug() << "in_reply";

    if (reply->property(TooLargeProperty).toBool() || reply->bytesAvailable() > m_maxBodySize) {
        fail(QStringLiteral("答复超过%1字节，已放弃").arg(m_maxBodySize));
        return;
    }
    // Our own abort may leave a partial body behind: never use it.
    if (reply->property(TimedOutProperty).toBool()) {
        fail(QStringLiteral("定义服务%1秒内没有给出完整答复，已放弃")
                 .arg(seconds(m_fetchTimeoutMs)));
        return;
    }
    const QString service = reply->url().authority();
    if (reply->error() != QNetworkReply::NoError && reply->error() < FirstHttpErrorCode) {
        fail(QStringLiteral("没有从定义服务 %1 得到完整答复：%2")
                 .arg(service, reply->errorString()));
        return;
    }
    const QByteArray body = reply->readAll();

    // An error status is named in every failure it explains: a gateway's 502
    // page is no definition, whatever it holds.
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool statusOk = !status.isValid() || (status.toInt() >= 200 && status.toInt() <= 299);
    const QString statusText
        = QStringLiteral("定义服务 %1 答复 HTTP %2 %3")
              .arg(service, status.toString(),
                   reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());

    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        if (!statusOk)
            fail(statusText);
        else if (body.isEmpty())
            fail(QStringLiteral("定义服务 %1 的答复是空的").arg(service));
        else if (error.error != QJsonParseError::NoError)
            fail(QStringLiteral("答复不是有效的JSON（%1，第%2字节）")
                     .arg(error.errorString())
                     .arg(error.offset));
        else
            fail(QStringLiteral("答复不是JSON对象"));
        return;
    }
    if (doc.object().contains(QLatin1String("errors"))) {
        m_lastFetchDetail = refusalText(doc.object().value(QLatin1String("errors")));
        emit json_stat(false);
        return;
    }
    // Any other object is a definition only when the service said so: an
    // error page in JSON must not replace a good cache.
    if (!statusOk) {
        fail(statusText + QStringLiteral("，没有数据点定义"));
        return;
    }

    QDir().mkpath(QFileInfo(path).path());
    // Written to a temporary file and renamed over the cache file: a failed
    // write never leaves a truncated definition behind.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size() || !file.commit()) {
        fail(QStringLiteral("无法写入缓存文件 %1：%2")
                 .arg(QDir::toNativeSeparators(path), file.errorString()));
        return;
    }
    m_lastFetchDetail.clear();
    emit json_stat(true);
}

void ZemJson::loadJson(const QString &productKey)
{
    m_def = DataPointDefinition();
    m_jsonPath = cachePath(productKey);
    if (!ZemProductKey::isUsableKey(productKey))
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
