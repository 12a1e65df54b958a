#pragma once
// The published schemas, compiled once and used by any number of threads: each
// validation has a context of its own over the shared, read-only compiled schema.
#include <QByteArray>
#include <QString>
#include <memory>

namespace nfe {

class Schema {
public:
    // file: a schema of the schema folder ("envCCe_v1.00.xsd"); nullptr with *error.
    static std::shared_ptr<const Schema> load(const QString& file, QString* error);
    ~Schema();
    Schema(const Schema&) = delete;
    Schema& operator=(const Schema&) = delete;

    // True when xml is valid; else false with the first error (line and message) in *error.
    bool validate(const QByteArray& xml, QString* error) const;

    struct Impl;

private:
    Schema();
    std::unique_ptr<Impl> m_impl;
};

// The folder of the official schemas: CCE_NFE_SCHEMAS when set, else "schemas/nfe" beside
// the program, else the copy in the source tree.
QString schemaFolder();

} // namespace nfe
