// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "datapoint/datapointdefinition.h"

#include <QMetaType>
#include <QObject>
#include <QString>
#include <QStringList>

class ZemJson;
class ZemTool;

// The one place the program gets a product's data-point definition from:
// the cache folder json/ (one file per product key, the service's answer as
// it came) and, when asked, the definition service named in the settings.
// The simulated MCU's tab, lumo-mcu, lumo-module, the module window and the
// analyzer all read definitions through it, so they agree on what a cache
// file is, which keys are usable, and what a broken file means.
//
// A fetch stores the answer in the cache before it is parsed (see ZemJson),
// so a product fetched once works offline.
class DefinitionStore : public QObject
{
    Q_OBJECT
public:
    explicit DefinitionStore(ZemTool *settings, QObject *parent = nullptr);

    // False for a key that names no product (none entered, the placeholder
    // stored before the user saved one): there is no definition to load or
    // fetch, and a program goes on without data points.
    static bool namesProduct(const QString &productKey);

    // The product keys that have a cache file, in order.
    QStringList cachedKeys() const;
    bool isCached(const QString &productKey) const;
    // Parses the cache file of productKey. False, with *problem saying why
    // (no such file, unreadable, too large, not JSON, unusable key), when
    // there is no definition to use; a JSON answer that is not an object
    // gives an empty definition and true, as the tab has always shown it.
    bool load(const QString &productKey, DataPointDefinition *definition,
              QString *problem = nullptr) const;

    // The cached definition when there is one, otherwise a fetch. Ends in
    // exactly one of ready() or failed(), never before this returns.
    void obtain(const QString &productKey);
    // Always asks the service, then parses what it stored. Ends in ready()
    // or failed(), never before this returns.
    void fetch(const QString &productKey);
    // Fetches started and not ended yet.
    bool busy() const;

    // The fetcher itself, for callers that tune its limits.
    ZemJson *fetcher() const { return m_json; }

signals:
    void ready(const QString &productKey, const DataPointDefinition &definition);
    // `refused` is true when the service answered and refused the key,
    // false when no usable answer came (service down, timeout, bad body).
    void failed(const QString &productKey, const QString &reason, bool refused);

private:
    void onStored(bool ok);
    void onFetchFailed(const QString &reason);

    ZemJson *m_json;
    QStringList m_fetching; // keys in the order their fetches were started
};

Q_DECLARE_METATYPE(DataPointDefinition)
