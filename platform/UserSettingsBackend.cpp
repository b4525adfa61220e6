// The user's settings on disk, in an INI file written through QSettings.
//
// INI keeps only text, so every value is stored as one tagged, ASCII-only string:
//   bool:true   int:-42   string:<bytes>   array:<count>:<bytes>,<bytes>,...
// where <bytes> is percent-encoded (everything but letters, digits and -._~/), so that
// byte strings that are not UTF-8 (paths, the window geometry) come back unchanged and
// array elements may hold commas. A value without a known tag reads as missing.
#include "platform/SettingsStore.h"

#include "platform/Localization.h"
#include "platform/Log.h"

#include <QByteArray>
#include <QFile>
#include <QSettings>
#include <QString>

#include <sys/stat.h>

#include <cstdlib>
#include <mutex>

namespace tarnwick {
namespace {

QString configFilePath()
{
    QString base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = QString::fromLocal8Bit(xdg);
    } else {
        const char* home = std::getenv("HOME");
        base = QString::fromLocal8Bit(home ? home : "") + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/Tarnwick/Tarnwick.conf");
}

QByteArray escape(const std::string& bytes)
{
    return QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())).toPercentEncoding("/");
}

std::string unescape(QByteArrayView text)
{
    const QByteArray bytes = QByteArray::fromPercentEncoding(text.toByteArray());
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

struct Serializer {
    QByteArray operator()(bool value) const { return value ? "bool:true" : "bool:false"; }
    QByteArray operator()(std::int64_t value) const { return "int:" + QByteArray::number(static_cast<qlonglong>(value)); }
    QByteArray operator()(const std::string& value) const { return "string:" + escape(value); }
    QByteArray operator()(const std::vector<std::string>& value) const
    {
        QByteArray text = "array:" + QByteArray::number(static_cast<qulonglong>(value.size())) + ':';
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (i > 0)
                text += ',';
            text += escape(value[i]);
        }
        return text;
    }
};

std::optional<SettingValue> deserialize(const QByteArray& text)
{
    if (text == "bool:true")
        return SettingValue(true);
    if (text == "bool:false")
        return SettingValue(false);
    if (text.startsWith("int:")) {
        bool ok = false;
        const qlonglong number = text.mid(4).toLongLong(&ok);
        return ok ? std::optional<SettingValue>(static_cast<std::int64_t>(number)) : std::nullopt;
    }
    if (text.startsWith("string:"))
        return SettingValue(unescape(text.mid(7)));
    if (text.startsWith("array:")) {
        const qsizetype colon = text.indexOf(':', 6);
        bool ok = false;
        const qulonglong count = colon < 0 ? 0 : text.mid(6, colon - 6).toULongLong(&ok);
        if (!ok)
            return std::nullopt;
        std::vector<std::string> elements;
        if (count > 0) {
            for (const QByteArray& piece : text.mid(colon + 1).split(','))
                elements.push_back(unescape(piece));
        }
        if (elements.size() != count)
            return std::nullopt;
        return SettingValue(std::move(elements));
    }
    return std::nullopt;
}

class UserSettingsBackend final : public SettingsBackend {
public:
    UserSettingsBackend() : settings_(configFilePath(), QSettings::IniFormat)
    {
        for (const QString& key : settings_.allKeys()) {
            const QVariant raw = settings_.value(key);
            if (auto value = deserialize(raw.toString().toLatin1()))
                cache_.insert_or_assign(key.toStdString(), std::move(*value));
        }
    }
    ~UserSettingsBackend() override { sync(); }

    // Reads come from the cache, so concurrent readers never touch QSettings.
    std::optional<SettingValue> value(std::string_view key) const override
    {
        if (auto it = cache_.find(key); it != cache_.end())
            return it->second;
        return std::nullopt;
    }

    void setValue(std::string_view key, const SettingValue& value) override
    {
        std::lock_guard lock(writeMutex_);
        cache_.insert_or_assign(std::string(key), value);
        settings_.setValue(QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size())),
                           QString::fromLatin1(std::visit(Serializer{}, value)));
    }

    void sync() override
    {
        std::lock_guard lock(writeMutex_);
        settings_.sync();
    }

private:
    std::mutex writeMutex_;
    QSettings settings_;
    SettingsDictionary cache_;
};

} // namespace

std::unique_ptr<SettingsBackend> makeUserSettingsBackend()
{
    // Anything but a regular file there (a FIFO would block the first read for ever,
    // a device could be read without end) is left alone: the defaults apply, and
    // nothing is written to it.
    const QByteArray path = QFile::encodeName(configFilePath());
    struct stat info {};
    if (::stat(path.constData(), &info) == 0 && !S_ISREG(info.st_mode)) {
        logMessage(formatMessage("'%1' is not a regular file: settings not read", {path.toStdString()}));
        return makeMemorySettingsBackend();
    }
    return std::make_unique<UserSettingsBackend>();
}

} // namespace tarnwick
