#pragma once
// What each certificate store of the configuration holds (the A1 folder, the A3 token) and
// which state registration each certificate serves, chosen as the transmissions choose
// (fiscal::CertificateStore: the A1 file of the registration's serial, else the token's
// certificate of that serial, else the token's of its CNPJ): what --list-certificates prints
// and --check-config reports, so that whoever configures the server sees what will be used.
#include <QList>
#include <QString>
#include <QStringList>

#include "server/app/CertificateSurvey.h"
#include "server/app/ConfigCheck.h"
#include "server/store/OperatorQueries.h"

namespace srv {

class Store;

struct CertificateUse {
    CertificateState state;
    QStringList serves; // "empresa 01, IE 96065041 (RJ)"
};

struct CertificateReport {
    QList<CertificateUse> certificates; // the folder's, then the token's
    QStringList unserved; // registrations that no certificate serves, with their serial and CNPJ
};

CertificateReport reportCertificates(const fiscal::FiscalConfig& fiscal,
                                     const QList<RegistrationCertificate>& registrations);

// --check-config's findings on the certificates; store: the database, when it opened.
QList<Finding> certificateFindings(const fiscal::FiscalConfig& fiscal, Store* store);

// --list-certificates: each store's certificates (subject, serial, end date, the registrations
// each serves) and the registrations without one, on standard output; 1 when a folder or a
// token could not be read or the database could not be opened.
int listCertificates(const Configuration& config);

} // namespace srv
