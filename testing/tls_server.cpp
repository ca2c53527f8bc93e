#include "testing/tls_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace qarvo::testing {
namespace {

constexpr int kSliceMs = 20;
// Longest a connection may stall the server's one thread.
constexpr int kSocketTimeoutSeconds = 3;

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateDeleter {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ContextDeleter {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};

// A self-signed certificate for localhost and 127.0.0.1, signed with `key`.
X509* makeCertificate(EVP_PKEY* key) {
  X509* certificate = X509_new();
  if (certificate == nullptr)
    return nullptr;
  bool made = X509_set_version(certificate, 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(certificate), 1) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(certificate), 24 * 3600) != nullptr &&
              X509_set_pubkey(certificate, key) == 1;
  X509_NAME* name = X509_get_subject_name(certificate);
  made = made &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>("localhost"), -1, -1,
                                    0) == 1 &&
         X509_set_issuer_name(certificate, name) == 1;
  if (made) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* names =
        X509V3_EXT_conf_nid(nullptr, &context, NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1");
    made = names != nullptr && X509_add_ext(certificate, names, -1) == 1;
    X509_EXTENSION_free(names);
  }
  made = made && X509_sign(certificate, key, EVP_sha256()) > 0;
  if (!made) {
    X509_free(certificate);
    return nullptr;
  }
  return certificate;
}

const char* reasonOf(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 301:
      return "Moved Permanently";
    case 302:
      return "Found";
    default:
      return "Status";
  }
}

}  // namespace

struct TlsServer::Tls {
  std::unique_ptr<EVP_PKEY, KeyDeleter> key;
  std::unique_ptr<X509, CertificateDeleter> certificate;
  std::unique_ptr<SSL_CTX, ContextDeleter> context;
};

TlsServer::TlsServer(Reply reply) : reply_(std::move(reply)), tls_(std::make_unique<Tls>()) {
  tls_->key.reset(EVP_EC_gen("P-256"));
  if (tls_->key)
    tls_->certificate.reset(makeCertificate(tls_->key.get()));
  if (tls_->certificate) {
    tls_->context.reset(SSL_CTX_new(TLS_server_method()));
    BIO* memory = BIO_new(BIO_s_mem());
    if (memory != nullptr && PEM_write_bio_X509(memory, tls_->certificate.get()) == 1) {
      char* data = nullptr;
      const long length = BIO_get_mem_data(memory, &data);
      certificatePem_.assign(data, static_cast<std::size_t>(length));
    }
    BIO_free(memory);
  }
  if (!tls_->context ||
      SSL_CTX_use_certificate(tls_->context.get(), tls_->certificate.get()) != 1 ||
      SSL_CTX_use_PrivateKey(tls_->context.get(), tls_->key.get()) != 1) {
    return;
  }

  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (listener_ < 0 ||
      ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 16) != 0) {
    return;
  }
  socklen_t length = sizeof address;
  ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  ready_ = true;
  thread_ = std::thread([this] { serve(); });
}

TlsServer::~TlsServer() {
  stopping_ = true;
  if (thread_.joinable())
    thread_.join();
  if (listener_ >= 0)
    ::close(listener_);
}

std::string TlsServer::url(std::string_view path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

void TlsServer::serve() {
  while (!stopping_.load()) {
    pollfd entry{listener_, POLLIN, 0};
    if (::poll(&entry, 1, kSliceMs) <= 0)
      continue;
    int socket = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (socket < 0)
      continue;
    ++connections_;
    timeval limit{kSocketTimeoutSeconds, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    answer(socket);
    ::close(socket);
  }
}

void TlsServer::answer(int socket) {
  SSL* ssl = SSL_new(tls_->context.get());
  if (ssl == nullptr)
    return;
  SSL_set_fd(ssl, socket);
  // A client that refuses the certificate ends the handshake here.
  if (SSL_accept(ssl) == 1) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < (1u << 20)) {
      int got = SSL_read(ssl, buffer, sizeof buffer);
      if (got <= 0)
        break;
      request.append(buffer, static_cast<std::size_t>(got));
    }
    if (request.find("\r\n\r\n") != std::string::npos) {
      ++requests_;
      std::string response =
          "HTTP/1.1 " + std::to_string(reply_.status) + " " + reasonOf(reply_.status) + "\r\n";
      for (const auto& [name, value] : reply_.headers)
        response += name + ": " + value + "\r\n";
      response += "Content-Length: " + std::to_string(reply_.body.size()) +
                  "\r\nConnection: close\r\n\r\n" + reply_.body;
      SSL_write(ssl, response.data(), static_cast<int>(response.size()));
      SSL_shutdown(ssl);
    }
  }
  SSL_free(ssl);
}

}  // namespace qarvo::testing
