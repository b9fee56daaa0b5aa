#pragma once
// Ed25519 signatures of update archives, checked with OpenSSL.

#include <QByteArray>
#include <QString>

namespace keldwick::EdSignature {

// True when `signatureBase64` is a valid Ed25519 signature of `data` made with the key
// whose public half is `publicKeyBase64` (32 bytes). A key or signature that isn't
// well-formed Base64 of the right length is never valid.
bool verify(const QByteArray& data, const QString& signatureBase64, const QString& publicKeyBase64);

}  // namespace keldwick::EdSignature
