#include "desktop/EdSignature.h"

#include <memory>
#include <optional>
#include <openssl/evp.h>

namespace keldwick::EdSignature {

namespace {

std::optional<QByteArray> strictBase64(const QString& text, qsizetype size) {
    auto decoded = QByteArray::fromBase64Encoding(text.trimmed().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size) {
        return std::nullopt;
    }
    return decoded.decoded;
}

}  // namespace

bool verify(const QByteArray& data, const QString& signatureBase64, const QString& publicKeyBase64) {
    std::optional<QByteArray> key = strictBase64(publicKeyBase64, 32);
    std::optional<QByteArray> signature = strictBase64(signatureBase64, 64);
    if (!key || !signature) {
        return false;
    }
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(key->data()),
                                    static_cast<size_t>(key->size())),
        &EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!publicKey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), reinterpret_cast<const unsigned char*>(signature->data()),
                            static_cast<size_t>(signature->size()),
                            reinterpret_cast<const unsigned char*>(data.constData()),
                            static_cast<size_t>(data.size())) == 1;
}

}  // namespace keldwick::EdSignature
