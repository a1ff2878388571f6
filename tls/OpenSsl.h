// Owners for OpenSSL objects, and the one place that turns OpenSSL's error
// queue into text.
#pragma once

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

template <auto Free> struct OpenSslDeleter {
    template <typename T> void operator()(T* p) const { Free(p); }
};

using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509_free>>;
using SslCtxPtr = std::unique_ptr<SSL_CTX, OpenSslDeleter<SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, OpenSslDeleter<SSL_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO_free_all>>;

// The oldest entry of the thread's OpenSSL error queue as text (empty when
// there is none); the queue is emptied.
std::string takeOpenSslError();
