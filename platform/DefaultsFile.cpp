#include "platform/DefaultsFile.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cmath>

namespace tarnwick {
namespace {

// Booleans, integral numbers, strings and arrays made only of strings are settings;
// any other value (a fraction, null, an object, a mixed array) is skipped.
std::optional<SettingValue> settingFromJson(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return SettingValue(value.toBool());
    case QJsonValue::Double: {
        const QVariant number = value.toVariant();
        if (number.typeId() == QMetaType::LongLong)
            return SettingValue(static_cast<std::int64_t>(number.toLongLong()));
        const double d = value.toDouble();
        // 2^63 itself is out of range; both bounds are exact doubles.
        if (std::isfinite(d) && std::trunc(d) == d && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
            return SettingValue(static_cast<std::int64_t>(d));
        return std::nullopt;
    }
    case QJsonValue::String:
        return SettingValue(value.toString().toStdString());
    case QJsonValue::Array: {
        std::vector<std::string> strings;
        for (const QJsonValue& element : value.toArray()) {
            if (!element.isString())
                return std::nullopt;
            strings.push_back(element.toString().toStdString());
        }
        return SettingValue(std::move(strings));
    }
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<SettingsDictionary> parseDefaults(std::string_view jsonText)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(jsonText.data(), static_cast<qsizetype>(jsonText.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    SettingsDictionary defaults;
    const QJsonObject object = document.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (auto value = settingFromJson(it.value()))
            defaults.insert_or_assign(it.key().toStdString(), std::move(*value));
    }
    return defaults;
}

std::optional<SettingsDictionary> readDefaultsFile(const std::string& path)
{
    QFile file(QString::fromLocal8Bit(path.data(), static_cast<qsizetype>(path.size())));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return parseDefaults(std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

} // namespace tarnwick
