#include "testing/tls_front.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace qarvo::testing {
namespace {

constexpr int kSliceMs = 20;
constexpr int kSocketTimeoutSeconds = 10;

// `nid`=`value` on `certificate`, issued by `issuer`.
bool addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  const bool added = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
  X509_EXTENSION_free(extension);
  return added;
}

// A certificate for `commonName` with `key`, valid from an hour ago for a
// week; self-signed when `issuer` is null.
X509* makeCertificate(EVP_PKEY* key, const char* commonName, long serial, X509* issuer,
                      EVP_PKEY* issuerKey) {
  X509* certificate = X509_new();
  if (certificate == nullptr)
    return nullptr;
  X509_NAME* name = X509_get_subject_name(certificate);
  bool made = X509_set_version(certificate, 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(certificate), -3600) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(certificate), 7 * 24 * 3600) != nullptr &&
              X509_set_pubkey(certificate, key) == 1 &&
              X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>("qarvo fakes"), -1,
                                         -1, 0) == 1 &&
              X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                         0) == 1;
  X509* signer = issuer != nullptr ? issuer : certificate;
  made = made && X509_set_issuer_name(certificate, X509_get_subject_name(signer)) == 1 &&
         addExtension(certificate, signer, NID_subject_key_identifier, "hash");
  if (issuer == nullptr) {
    made = made && addExtension(certificate, signer, NID_basic_constraints, "critical,CA:TRUE") &&
           addExtension(certificate, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    made = made && addExtension(certificate, signer, NID_basic_constraints, "CA:FALSE") &&
           addExtension(certificate, signer, NID_authority_key_identifier, "keyid:always") &&
           addExtension(certificate, signer, NID_key_usage, "critical,digitalSignature") &&
           addExtension(certificate, signer, NID_ext_key_usage, "serverAuth") &&
           addExtension(certificate, signer, NID_subject_alt_name,
                        "DNS:whois.aizhan.com,DNS:whois.chinaz.com,DNS:tool.chinaz.com,"
                        "DNS:localhost,IP:127.0.0.1");
  }
  made = made && X509_sign(certificate, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0;
  if (!made) {
    X509_free(certificate);
    return nullptr;
  }
  return certificate;
}

std::string pemOf(X509* certificate) {
  BIO* memory = BIO_new(BIO_s_mem());
  std::string pem;
  if (memory != nullptr && PEM_write_bio_X509(memory, certificate) == 1) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(memory, &data);
    pem.assign(data, static_cast<std::size_t>(length));
  }
  BIO_free(memory);
  return pem;
}

bool sendAll(int socket, const char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t sent = ::send(socket, data, length, MSG_NOSIGNAL);
    if (sent <= 0)
      return false;
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

bool sslWriteAll(SSL* ssl, const char* data, std::size_t length) {
  while (length > 0) {
    const int sent = SSL_write(ssl, data, static_cast<int>(length));
    if (sent <= 0)
      return false;
    data += sent;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

// Passes bytes both ways until either side ends; `ssl` (may be null) is the
// client's side in TLS.
void relay(int client, SSL* ssl, int backend, const std::atomic<bool>& stopping) {
  char buffer[16384];
  while (!stopping.load()) {
    pollfd entries[2] = {{client, POLLIN, 0}, {backend, POLLIN, 0}};
    const bool pending = ssl != nullptr && SSL_pending(ssl) > 0;
    if (!pending && ::poll(entries, 2, kSliceMs) <= 0)
      continue;
    if (pending || (entries[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const int got = ssl != nullptr ? SSL_read(ssl, buffer, sizeof buffer)
                                     : static_cast<int>(::recv(client, buffer, sizeof buffer, 0));
      if (got <= 0 || !sendAll(backend, buffer, static_cast<std::size_t>(got)))
        return;
    }
    if ((entries[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      const ssize_t got = ::recv(backend, buffer, sizeof buffer, 0);
      if (got <= 0)
        return;
      const auto length = static_cast<std::size_t>(got);
      if (!(ssl != nullptr ? sslWriteAll(ssl, buffer, length) : sendAll(client, buffer, length)))
        return;
    }
  }
}

}  // namespace

const TestAuthority& TestAuthority::instance() {
  static const TestAuthority* authority = new TestAuthority();
  return *authority;
}

TestAuthority::TestAuthority() {
  EVP_PKEY* caKey = EVP_EC_gen("P-256");
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* ca = caKey != nullptr ? makeCertificate(caKey, "qarvo fakes authority", 1, nullptr, nullptr)
                              : nullptr;
  X509* leaf = ca != nullptr && key != nullptr
                   ? makeCertificate(key, "whois.aizhan.com", 2, ca, caKey)
                   : nullptr;
  if (leaf != nullptr) {
    caPem_ = pemOf(ca);
    context_ = SSL_CTX_new(TLS_server_method());
  }
  const bool served = context_ != nullptr && SSL_CTX_use_certificate(context_, leaf) == 1 &&
                      SSL_CTX_use_PrivateKey(context_, key) == 1;
  X509_free(leaf);
  X509_free(ca);
  EVP_PKEY_free(key);
  EVP_PKEY_free(caKey);
  if (!served || caPem_.empty())
    return;
  const char* temporary = std::getenv("TMPDIR");
  std::string folder =
      std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
      "/qarvo-fakes-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr)
    return;
  caFile_ = folder + "/ca.pem";
  ready_ = writeCaFile(caFile_);
}

bool TestAuthority::writeCaFile(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << caPem_;
  out.close();
  return !caPem_.empty() && out.good();
}

TlsFront::TlsFront(std::string plainBackend, int port, std::string secureBackend, bool speaksTls)
    : plainBackend_(std::move(plainBackend)),
      secureBackend_(secureBackend.empty() ? plainBackend_ : std::move(secureBackend)),
      speaksTls_(speaksTls) {
  if (TestAuthority::instance().ready())
    listener_.emplace(port, [this](int client) { serve(client); });
}

int TlsFront::connectBackend(bool secure) const {
  return connectToHostPort(secure ? secureBackend_ : plainBackend_);
}

void TlsFront::serve(int client) {
  timeval limit{kSocketTimeoutSeconds, 0};
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  const int yes = 1;
  ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);

  // What the client opens with decides: a TLS handshake, a tunnel request or
  // plain HTTP.
  std::string head;
  char first = 0;
  bool secure = ::recv(client, &first, 1, MSG_PEEK) == 1 && first == 0x16;
  if (secure && !speaksTls_) {
    constexpr std::string_view kBadRequest =
        "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    sendAll(client, kBadRequest.data(), kBadRequest.size());
    secure = false;
  } else if (!secure) {
    char buffer[4096];
    while (head.find("\r\n") == std::string::npos && head.size() < 65536) {
      const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
      if (got <= 0)
        break;
      head.append(buffer, static_cast<std::size_t>(got));
    }
    if (head.starts_with("CONNECT ")) {
      while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
          break;
        head.append(buffer, static_cast<std::size_t>(got));
      }
      secure = true;
      constexpr std::string_view kEstablished = "HTTP/1.1 200 Connection established\r\n\r\n";
      if (head.find("\r\n\r\n") == std::string::npos ||
          !sendAll(client, kEstablished.data(), kEstablished.size())) {
        secure = false;
        head.clear();
      }
      head.erase(0, head.find("\r\n\r\n") + 4);  // a client waits for the 200
    }
  }

  const int backend = (secure || !head.empty()) ? connectBackend(secure) : -1;
  if (backend >= 0) {
    if (secure) {
      SSL* ssl = SSL_new(TestAuthority::instance().serverContext());
      if (ssl != nullptr) {
        SSL_set_fd(ssl, client);
        // A client that refuses the certificate ends the handshake here.
        if (SSL_accept(ssl) == 1) {
          ++secure_;
          relay(client, ssl, backend, listener_->stopping());
          SSL_shutdown(ssl);
        }
        SSL_free(ssl);
      }
    } else if (sendAll(backend, head.data(), head.size())) {
      relay(client, nullptr, backend, listener_->stopping());
    }
    ::close(backend);
  }
}

}  // namespace qarvo::testing
