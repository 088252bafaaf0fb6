// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"
#include "datapoint/json_struct.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class ZemTool;

// Fetches a product's data-point definition from the definition service,
// keeps the raw answer as the cache file "json/<product key>.json", parses
// that file into records, and packs and unpacks data-point values (the codec
// itself lives in DataPointCodec).
//
// Fetch and parse are separate: a fetch only stores the answer and reports
// json_stat; the caller then asks for the parse, which reads the cache file
// and never the network. So a product fetched once works offline.
//
// Fetch outcome (every fetch ends in exactly one signal, except that a
// refusal and a success are json_stat as before):
// - the answer is an object without "errors": written byte for byte to the
//   cache file of the key that fetch asked for, json_stat(true);
// - an object with "errors" (the service refused the key), or a key that is
//   not letters and digits: json_stat(false), the cache file is not touched;
//   lastFetchDetail() says what the service answered;
// - no answer (service down, connection lost, body cut off), an empty or
//   non-JSON body, JSON that is not an object, an object without "errors"
//   under an HTTP status other than 2xx, a body above maxBodySize(), no
//   complete answer within fetchTimeout() ms, a cache file that cannot be
//   written: fetchFailed(reason), a short Chinese text for the user; the
//   cache file is not touched.
class ZemJson : public QObject
{
    Q_OBJECT
public:
    // Reads the service's host from `settings` (the program's one settings
    // object); without one it opens the settings file itself.
    explicit ZemJson(QObject *parent = nullptr);
    explicit ZemJson(ZemTool *settings, QObject *parent = nullptr);

    // Starts the download of the definition of productKey; returns at once.
    void getJson(const QString &productKey);
    // Parses the cache file of productKey into jsonList() and the counters,
    // then emits ListOk. A missing or unreadable file, or one that is not
    // JSON, empties the list and emits nothing; JSON that is not an object
    // gives ListOk with an empty list.
    void loadJson(const QString &productKey);

    const QList<json_struct> &jsonList() const { return m_def.records(); }
    int writableCount() const { return m_def.writableCount(); }
    int writableBits() const { return m_def.writableBits(); }
    int readonlyBits() const { return m_def.readonlyBits(); }
    int alertBits() const { return m_def.alertBits(); }
    int faultBits() const { return m_def.faultBits(); }
    const DataPointDefinition &definition() const { return m_def; }
    // Cache file of the key last fetched or parsed.
    QString jsonPath() const { return m_jsonPath; }

    // Value codec on the current definition (see DataPointCodec).
    QByteArray makeReportFrame() const;
    QByteArray setValue(QByteArray &frame, const QString &displayName, int value) const;
    QByteArray setBytes(QByteArray &frame, const QString &displayName,
                        const QByteArray &bytes) const;
    static QByteArray intToBytes(int value, int width);
    static quint16 GetBits(const QByteArray &data, int byteOffset, unsigned bitOffset,
                           unsigned bitLen, bool fromEnd);
    QMap<QString, QString> decodeControl(const QByteArray &frame) const;

    // "json/<key>.json" under the program folder.
    static QString cachePath(const QString &productKey);

    // A fetch not completely answered within this time is abandoned
    // (default 10 s), however slowly the service keeps sending.
    void setFetchTimeout(int ms) { m_fetchTimeoutMs = ms; }
    int fetchTimeout() const { return m_fetchTimeoutMs; }
    // A body above this size is a failed fetch (default 16 MiB).
    void setMaxBodySize(qint64 bytes) { m_maxBodySize = bytes; }
    qint64 maxBodySize() const { return m_maxBodySize; }
    // Fetches started and not yet finished.
    int pendingFetches() const { return m_pending; }
    // Why the last fetch that ended did not store a definition (the reason of
    // fetchFailed, or what a refusal said); empty after a success.
    QString lastFetchDetail() const { return m_lastFetchDetail; }

signals:
    void json_stat(bool ok);
    void ListOk(QList<json_struct> list);
    // A fetch ended without an answer that decides: nothing was stored.
    void fetchFailed(const QString &reason);

public slots:
    void replyFinished(QNetworkReply *reply);

private:
    void onDownloadProgress(QNetworkReply *reply, qint64 received, qint64 total);
    void fail(const QString &reason);

    ZemTool *m_tool;
    QNetworkAccessManager *m_manager = nullptr;
    DataPointDefinition m_def;
    QString m_jsonPath;
    int m_fetchTimeoutMs = 10000;
    qint64 m_maxBodySize = 16 * 1024 * 1024;
    int m_pending = 0;
    QString m_lastFetchDetail;
};
