#include "nfe/Schema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <libxml/parser.h>
#include <libxml/xmlschemas.h>

#include "paths/DataFolder.h"

namespace nfe {

namespace {

struct FirstError {
    QString text;
};

void collect(void* ctx, const xmlError* e)
{
    auto* first = static_cast<FirstError*>(ctx);
    if (!first->text.isEmpty() || !e)
        return;
    first->text = QStringLiteral("linha %1: %2").arg(e->line).arg(QString::fromUtf8(e->message).trimmed());
}

} // namespace

struct Schema::Impl {
    xmlSchemaPtr schema = nullptr;
    ~Impl()
    {
        if (schema)
            xmlSchemaFree(schema);
    }
};

Schema::Schema() : m_impl(std::make_unique<Impl>()) {}
Schema::~Schema() = default;

QString schemaFolder()
{
    return fw::dataFolder("CCE_NFE_SCHEMAS", QStringLiteral("schemas/nfe"), QStringLiteral(CCE_NFE_SOURCE_SCHEMAS));
}

std::shared_ptr<const Schema> Schema::load(const QString& file, QString* error)
{
    xmlInitParser();
    const QString path = QDir(schemaFolder()).filePath(file);
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("Esquema %1 não encontrado.").arg(path);
        return nullptr;
    }
    FirstError first;
    xmlSchemaParserCtxtPtr pctx = xmlSchemaNewParserCtxt(QFile::encodeName(path).constData());
    xmlSchemaSetParserStructuredErrors(pctx, reinterpret_cast<xmlStructuredErrorFunc>(&collect), &first);
    std::shared_ptr<Schema> s(new Schema);
    s->m_impl->schema = xmlSchemaParse(pctx);
    xmlSchemaFreeParserCtxt(pctx);
    if (!s->m_impl->schema) {
        *error = QStringLiteral("Esquema %1 inválido: %2").arg(file, first.text);
        return nullptr;
    }
    return s;
}

bool Schema::validate(const QByteArray& xml, QString* error) const
{
    xmlDocPtr doc = xmlReadMemory(xml.constData(), int(xml.size()), nullptr, "UTF-8", XML_PARSE_NONET);
    if (!doc) {
        *error = QStringLiteral("XML mal formado.");
        return false;
    }
    FirstError first;
    xmlSchemaValidCtxtPtr vctx = xmlSchemaNewValidCtxt(m_impl->schema);
    xmlSchemaSetValidStructuredErrors(vctx, reinterpret_cast<xmlStructuredErrorFunc>(&collect), &first);
    const int rc = xmlSchemaValidateDoc(vctx, doc);
    xmlSchemaFreeValidCtxt(vctx);
    xmlFreeDoc(doc);
    if (rc != 0) {
        *error = first.text.isEmpty() ? QStringLiteral("XML não confere com o esquema.") : first.text;
        return false;
    }
    return true;
}

} // namespace nfe
