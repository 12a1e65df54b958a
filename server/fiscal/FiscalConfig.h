#pragma once
// What the fiscal subsystem needs from cce-server.ini:
//
//   [fiscal]
//   certificates=/srv/cce/certificados      ; <NRSERIECERTIFIC>.pfx, one per state registration
//   certificate_password=...                 ; or certificate_password_file=senha.txt (beside the ini
//                                            ; when relative); one password for every file
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

struct FiscalConfig {
    QString certificateFolder;
    QString certificatePassword;
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
    bool configured() const { return !certificateFolder.isEmpty() && !endpoints.isEmpty(); }
};

} // namespace srv::fiscal
