#pragma once
// What the operators' pages ask of the database: whether it answers and holds the schema
// this server needs, and how many letters stand in each state. Counts only: no row of a
// company leaves through them. The operator's command line also asks which certificate each
// state registration names.
#include <QList>
#include <QString>

namespace srv {

class Store;

struct LetterCounts {
    qint64 pending = 0; // never transmitted (or released)
    qint64 inDoubt = 0; // sent, no answer yet
    qint64 accepted = 0; // registered by the authority (135, 136)
    qint64 rejected = 0; // answered otherwise
};

// A state registration and the certificate it names.
struct RegistrationCertificate {
    QString company, registration, uf; // CDEMPRESA, CDINSCESTA, SGESTADO
    QString serial, cnpj; // NRSERIECERTIFIC, NRINSJURIEST
};

class OperatorQueries {
public:
    explicit OperatorQueries(Store& store) : m_store(store) {}

    // Empty when the database answers at the schema version this server was built for;
    // otherwise why not, in Portuguese, for the operator.
    QString databaseProblem();
    LetterCounts letterCounts();
    // Every registration of every company, by company and registration.
    QList<RegistrationCertificate> registrationCertificates();

private:
    Store& m_store;
};

} // namespace srv
