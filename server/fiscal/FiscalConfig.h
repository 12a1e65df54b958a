#pragma once
// What the fiscal subsystem needs from cce-server.ini:
//
//   [fiscal]
//   certificates=/srv/cce/certificados      ; <NRSERIECERTIFIC>.pfx, one per state registration
//   certificate_password=...                 ; or certificate_password_file=senha.txt (beside the ini
//                                            ; when relative); one password for every file
//   pkcs11_module=/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so ; A3: the token's PKCS#11 library
//   pkcs11_token=e-CNPJ                      ; the token's label
//   pkcs11_pin_file=pin.txt                  ; the user PIN (mode 0600; beside the ini when relative)
//                                            ; a registration's certificate: <NRSERIECERTIFIC>.pfx in
//                                            ; the folder, else the token's of that serial number,
//                                            ; else the token's of the issuer's CNPJ
//   trust_store=/etc/ssl/certs/ca-certificates.crt ; the authorities' certificate authorities
//   timeout_ms=20000                         ; one call to the authority
//   claim_window_ms=90000                    ; a claim with no recorded ending (its server may still
//                                            ; wait for the authority) is left alone this long
//   fold_accents=RO,AC                       ; states whose authority refuses accented letters
//   sync_pause_ms=500                        ; --sync-events: the pause between two protocol queries
//   sync_interval_hours=24                   ; --sync-events: an invoice read this recently, with
//                                            ; nothing in doubt, is in step and not asked again
//   [authority]
//   SP.1.recepcao=https://...                ; <authority>.<tpAmb>.<recepcao|consulta>; "*" matches any
//
// The authority's certificate is always verified against the trust store; there is no
// option to switch that off.
#include <QHash>
#include <QString>
#include <QStringList>

namespace srv::fiscal {

// A PKCS#11 token holding A3 certificates.
struct TokenSettings {
    QString module; // its PKCS#11 library
    QString label; // the token's label
    QString pinFile; // the user PIN, readable by its owner alone
    bool configured() const { return !module.isEmpty(); }
    bool operator==(const TokenSettings& o) const
    {
        return module == o.module && label == o.label && pinFile == o.pinFile;
    }
};

// The PIN file's contents, trimmed; false with the reason (the file's name, never its
// contents) when it cannot be read or others than its owner may read it.
bool readPinFile(const QString& path, QByteArray* pin, QString* error);

struct FiscalConfig {
    QString certificateFolder;
    QString certificatePassword;
    TokenSettings token;
    QString trustStore;
    int timeoutMs = 20000;
    int claimWindowMs = 0; // a claim whose call left no ending is left alone this long; 0: the call's budget
    QStringList foldAccents;
    int syncPauseMs = 500;
    int syncIntervalHours = 24;
    QHash<QString, QString> endpoints; // "SP.1.recepcao" -> URL

    // Reads the two sections; false with *error when a value is unusable.
    bool loadFile(const QString& iniPath, QString* error);
    // The URL for the authority and environment, or "" when none is configured.
    QString endpoint(const QString& authority, const QString& tpAmb, const QString& service) const;
    bool configured() const { return (!certificateFolder.isEmpty() || token.configured()) && !endpoints.isEmpty(); }
};

} // namespace srv::fiscal
