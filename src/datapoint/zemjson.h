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
// Fetch outcome:
// - the answer is an object without "errors": written byte for byte to the
//   cache file of the key that fetch asked for, json_stat(true);
// - an object with "errors" (the service refused the key), or a key that is
//   not letters and digits: json_stat(false), the cache file is not touched;
// - no answer, an empty or non-JSON body, JSON that is not an object, an
//   object without "errors" under an HTTP status other than 2xx, a body above
//   maxBodySize(), no data for transferTimeout() ms, a cache file that cannot
//   be written: no signal at all.
class ZemJson : public QObject
{
    Q_OBJECT
public:
    explicit ZemJson(QObject *parent = nullptr);

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
    // Letters and digits only: the key becomes part of a URL and a file name.
    static bool isUsableKey(const QString &productKey);

    // A fetch that receives nothing for this long is abandoned (default 30 s).
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }
    int transferTimeout() const { return m_transferTimeoutMs; }
    // A body above this size is a failed fetch (default 16 MiB).
    void setMaxBodySize(qint64 bytes) { m_maxBodySize = bytes; }
    qint64 maxBodySize() const { return m_maxBodySize; }
    // Fetches started and not yet finished.
    int pendingFetches() const { return m_pending; }

signals:
    void json_stat(bool ok);
    void ListOk(QList<json_struct> list);

public slots:
    void replyFinished(QNetworkReply *reply);

private:
    void onDownloadProgress(QNetworkReply *reply, qint64 received, qint64 total);

    ZemTool *m_tool;
    QNetworkAccessManager *m_manager = nullptr;
    DataPointDefinition m_def;
    QString m_jsonPath;
    int m_transferTimeoutMs = 30000;
    qint64 m_maxBodySize = 16 * 1024 * 1024;
    int m_pending = 0;
};
