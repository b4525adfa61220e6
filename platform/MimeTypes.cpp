#include "platform/MimeTypes.h"

#include <QByteArray>
#include <QMimeDatabase>
#include <QMimeType>
#include <QString>

namespace tarnwick {

std::string mimeTypeForFile(std::string_view fileName, std::string_view leadingBytes)
{
    static constexpr std::string_view kFallback = "application/octet-stream";
    const QMimeDatabase database;
    const QString name = QString::fromUtf8(fileName.data(), static_cast<qsizetype>(fileName.size()));
    const QByteArray data = QByteArray::fromRawData(leadingBytes.data(), static_cast<qsizetype>(leadingBytes.size()));
    const QMimeType type = database.mimeTypeForFileNameAndData(name, data);
    if (!type.isValid() || type.isDefault())
        return std::string(kFallback);
    return type.name().toStdString();
}

} // namespace tarnwick
