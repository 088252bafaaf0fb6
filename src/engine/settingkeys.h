#pragma once

#include <QString>

// Keys of the settings file "auto_analyze.ini" (INI groups written group/key).
namespace SettingKeys {

inline const QString ProductKey = QStringLiteral("product_key/key");
inline const QString Environment = QStringLiteral("environment/environment");
inline const QString SoftVersion = QStringLiteral("setting/softver");
inline const QString HardVersion = QStringLiteral("setting/hardver");
inline const QString UploadTime = QStringLiteral("setting/uploadtime");
inline const QString OtaPiece = QStringLiteral("setting/otapiece");
inline const QString OtaType = QStringLiteral("setting/otatype");
inline const QString BindingTime = QStringLiteral("setting/bordingtime");
inline const QString ModuleType = QStringLiteral("setting/moduletype");

// The stored key that means "no product key entered yet".
inline const QString PlaceholderProductKey = QStringLiteral("10293847561029384756102938475610");

// Reply template for a reply code, e.g. 0x02 -> "Respond/02".
inline QString respondKey(int replyCode)
{
    return QStringLiteral("Respond/")
           + QString::number(replyCode & 0xFF, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

} // namespace SettingKeys
