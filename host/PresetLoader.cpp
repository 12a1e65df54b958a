#include "host/PresetLoader.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include "core/values/JsonCodec.h"
#include "core/values/Value.h"

namespace host {

bool loadPreset(const QString& path, QVariant* preset, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("Não foi possível ler o arquivo de parâmetros %1.").arg(path);
        return false;
    }
    // Wrapped in an array so that a bare null or value parses too.
    const QByteArray text = "[" + file.readAll() + "]";
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isArray() || doc.array().size() != 1) {
        *error = QStringLiteral("Arquivo de parâmetros inválido: %1.").arg(path);
        return false;
    }
    QString decodeError;
    const QVariant value = fw::json::decode(doc.array().at(0), &decodeError);
    if (!value.isValid()) {
        *error = QStringLiteral("Arquivo de parâmetros inválido: %1.").arg(decodeError);
        return false;
    }
    *preset = value;
    return true;
}

} // namespace host
