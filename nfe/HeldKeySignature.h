#pragma once
// The enveloped signature completed by hand, for a key that stays where it is kept (a
// PKCS#11 token): xmlsec1 1.2 takes such a key for a public one and will not sign with it.
// The reference's digest and SignedInfo are canonicalised by libxml2 (C14N 1.0, no
// comments), exactly as xmlsec1 does for an A1 key, and SignedInfo's bytes are handed to
// the key; RSA PKCS#1 v1.5 being deterministic, the same key gives the same bytes either way.
#include <QString>
#include <libxml/tree.h>

#include "nfe/Signer.h"

namespace nfe {

// Fills the DigestValue and SignatureValue of the template sig (as xmlSecTmplSignatureCreate
// makes it: one reference to referenced, SHA-1, RSA-SHA1, C14N 1.0) in place.
bool completeSignature(xmlNodePtr sig, xmlNodePtr referenced, const HeldKey& key, QString* error);

} // namespace nfe
