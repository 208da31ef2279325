// SHA-256 of whole database files, for the run's report and the restore's checks. The files run
// to hundreds of megabytes, so the system's own implementation does the hashing: OpenSSL's
// libcrypto, or Windows' CNG, each several times faster than a portable one (a 1,000,000-product
// file took 2.6 s with QCryptographicHash and 0.4 s with OpenSSL on the same machine).

#include <QFile>
#include <functional>
#include <future>
#include <memory>
#include <system_error>

#include "conversion/RunFolder.h"
#include "data/BusyWait.h"
#include "data/EngineOptions.h"

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>
#else
#include <openssl/evp.h>
#endif

namespace {

constexpr qint64 kChunk = qint64{1} << 20;

#ifdef Q_OS_WIN
class Sha256 {
public:
    Sha256() {
        ok_ = BCryptOpenAlgorithmProvider(&alg_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) >= 0 &&
              BCryptCreateHash(alg_, &hash_, nullptr, 0, nullptr, 0, 0) >= 0;
    }
    ~Sha256() {
        if (hash_ != nullptr) {
            BCryptDestroyHash(hash_);
        }
        if (alg_ != nullptr) {
            BCryptCloseAlgorithmProvider(alg_, 0);
        }
    }
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    bool Add(const QByteArray& bytes) {
        ok_ =
            ok_ && BCryptHashData(hash_, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                                  static_cast<ULONG>(bytes.size()), 0) >= 0;
        return ok_;
    }
    QByteArray Result() {
        QByteArray digest(32, '\0');
        if (!ok_ || BCryptFinishHash(hash_, reinterpret_cast<PUCHAR>(digest.data()),
                                     static_cast<ULONG>(digest.size()), 0) < 0) {
            return {};
        }
        return digest;
    }

private:
    BCRYPT_ALG_HANDLE alg_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    bool ok_ = false;
};
#else
class Sha256 {
public:
    Sha256() : ctx_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        ok_ = ctx_ != nullptr && EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) == 1;
    }
    bool Add(const QByteArray& bytes) {
        ok_ = ok_ && EVP_DigestUpdate(ctx_.get(), bytes.constData(),
                                      static_cast<size_t>(bytes.size())) == 1;
        return ok_;
    }
    QByteArray Result() {
        QByteArray digest(EVP_MAX_MD_SIZE, '\0');
        unsigned int size = 0;
        if (!ok_ || EVP_DigestFinal_ex(ctx_.get(), reinterpret_cast<unsigned char*>(digest.data()),
                                       &size) != 1) {
            return {};
        }
        digest.truncate(static_cast<qsizetype>(size));
        return digest;
    }

private:
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx_;
    bool ok_ = false;
};
#endif

}  // namespace

QByteArray FileSha256(const QString& path) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly)) {
        return {};
    }
    Sha256 hash;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(kChunk);
        if ((chunk.isEmpty() && in.error() != QFileDevice::NoError) || !hash.Add(chunk)) {
            return {};
        }
    }
    return hash.Result().toHex();
}

FileHashing::FileHashing(const QStringList& paths) {
    for (const QString& path : paths) {
        try {
            hashing_.push_back(std::async(std::launch::async, FileSha256, path));
        } catch (const std::system_error&) {
            // No thread to be had: hashed when the result is asked for.
            hashing_.push_back(std::async(std::launch::deferred, FileSha256, path));
        }
    }
}

FileHashing::~FileHashing() {
    // A future of std::async waits for its thread as it goes; nothing is left running.
    hashing_.clear();
}

std::vector<QByteArray> FileHashing::Results() {
    const dao::EngineOptions* options = dao::EngineOptionsScope::Current();
    const std::function<void()> busyCallback =
        options != nullptr ? options->busyCallback : std::function<void()>();
    std::vector<QByteArray> results;
    for (std::future<QByteArray>& file : hashing_) {
        results.push_back(file.valid() ? dao::GetCallingBack(file, busyCallback) : QByteArray());
    }
    hashing_.clear();
    return results;
}

std::vector<QByteArray> FilesSha256(const QStringList& paths) {
    return FileHashing(paths).Results();
}
