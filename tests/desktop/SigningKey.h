#pragma once
// An Ed25519 key pair made for a test, signing as update archives are signed.

#include <QByteArray>
#include <QString>
#include <openssl/evp.h>

namespace keldwick::test {

class SigningKey {
public:
    SigningKey() {
        EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr);
        EVP_PKEY_keygen_init(context);
        EVP_PKEY_keygen(context, &key_);
        EVP_PKEY_CTX_free(context);
    }
    ~SigningKey() { EVP_PKEY_free(key_); }
    SigningKey(const SigningKey&) = delete;
    SigningKey& operator=(const SigningKey&) = delete;

    QString publicKey() const {
        unsigned char raw[32];
        size_t size = sizeof raw;
        EVP_PKEY_get_raw_public_key(key_, raw, &size);
        return QString::fromLatin1(QByteArray(reinterpret_cast<char*>(raw), static_cast<qsizetype>(size)).toBase64());
    }
    QString sign(const QByteArray& data) const {
        unsigned char signature[64];
        size_t size = sizeof signature;
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestSignInit(context, nullptr, nullptr, nullptr, key_);
        EVP_DigestSign(context, signature, &size, reinterpret_cast<const unsigned char*>(data.constData()),
                       static_cast<size_t>(data.size()));
        EVP_MD_CTX_free(context);
        return QString::fromLatin1(
            QByteArray(reinterpret_cast<char*>(signature), static_cast<qsizetype>(size)).toBase64());
    }

private:
    EVP_PKEY* key_ = nullptr;
};

}  // namespace keldwick::test
