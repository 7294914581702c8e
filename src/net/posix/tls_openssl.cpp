// The OpenSSL backend of the TLS seam: one SSL object over two memory BIOs (bytes fed in, bytes
// taken out), a client context shared by the process, the system's trusted certificates, and
// sessions kept in the caller's cache so later connections resume them.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <mutex>

#include "net/tls.h"

namespace skelder::net {

namespace {

// The newest session the server gave on any channel of one FTP session. With TLS 1.3 a session
// arrives after the handshake (as a ticket), and a resumed handshake brings new ones.
class OpenSslSessionCache : public TTlsSessionCache {
 public:
  // Takes over the caller's reference.
  void Keep(SSL_SESSION* session) {
    std::string bytes;
    const int length = i2d_SSL_SESSION(session, nullptr);
    if (length > 0) {
      bytes.resize(static_cast<size_t>(length));
      auto* at = reinterpret_cast<unsigned char*>(bytes.data());
      if (i2d_SSL_SESSION(session, &at) != length) bytes.clear();
    }
    SSL_SESSION_free(session);
    std::lock_guard<std::mutex> guard(mutex_);
    if (!bytes.empty()) session_ = std::move(bytes);
  }
  // A session of the caller's own, or null. Each is made afresh from the kept bytes: the TLS
  // library takes a TLS 1.3 session that was resumed once for used up, while the server may
  // take its ticket again and again.
  SSL_SESSION* Take() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (session_.empty()) return nullptr;
    const auto* at = reinterpret_cast<const unsigned char*>(session_.data());
    SSL_SESSION* session = d2i_SSL_SESSION(nullptr, &at, static_cast<long>(session_.size()));
    if (session != nullptr && SSL_SESSION_is_resumable(session) != 1) {
      SSL_SESSION_free(session);
      session = nullptr;
    }
    ERR_clear_error();
    return session;
  }

 private:
  std::mutex mutex_;
  std::string session_;  // the newest session, serialised
};

// What the TLS library has to say about the last failure, its queue emptied.
std::string LibraryReason(const char* fallback) {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    const char* reason = ERR_reason_error_string(code);
    if (reason == nullptr) continue;
    if (!text.empty()) text += "; ";
    text += reason;
  }
  return text.empty() ? std::string(fallback) : text;
}

int CacheIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

int NewSession(SSL* ssl, SSL_SESSION* session) {
  auto* cache = static_cast<OpenSslSessionCache*>(SSL_get_ex_data(ssl, CacheIndex()));
  if (cache == nullptr) return 0;
  cache->Keep(session);
  return 1;  // the reference is ours now
}

// One context for the process: loading the system's trusted certificates takes longer than a
// data connection's whole handshake, so it is done once.
class ClientContext {
 public:
  ClientContext() {
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (ctx_ == nullptr) {
      error_ = LibraryReason("no TLS client context");
      return;
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // The chain is checked all the same and its result read after the handshake: the caller
    // may trust a certificate that does not verify by its fingerprint.
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    if (SSL_CTX_set_default_verify_paths(ctx_) != 1) ERR_clear_error();
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx_, NewSession);
  }
  ~ClientContext() {
    if (ctx_ != nullptr) SSL_CTX_free(ctx_);
  }
  ClientContext(const ClientContext&) = delete;
  ClientContext& operator=(const ClientContext&) = delete;

  SSL_CTX* Get() const {
    if (ctx_ == nullptr) throw ETlsError("TLS is not available: " + error_);
    return ctx_;
  }

 private:
  SSL_CTX* ctx_ = nullptr;
  std::string error_;
};

const ClientContext& Context() {
  static const ClientContext context;
  return context;
}

bool IsAddress(const std::string& host) {
  ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
  if (address == nullptr) {
    ERR_clear_error();
    return false;
  }
  ASN1_OCTET_STRING_free(address);
  return true;
}

class OpenSslChannel : public TTlsChannel {
 public:
  explicit OpenSslChannel(const TTlsClientSettings& settings)
      : host_(settings.HostName), cache_(std::dynamic_pointer_cast<OpenSslSessionCache>(settings.Session)) {
    ssl_ = SSL_new(Context().Get());
    if (ssl_ == nullptr) throw ETlsError("TLS is not available: " + LibraryReason("no TLS connection object"));
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    if (in_ == nullptr || out_ == nullptr) {
      BIO_free(in_);
      BIO_free(out_);
      SSL_free(ssl_);
      throw ETlsError("TLS is not available: no memory for its buffers");
    }
    // An empty input means "more to come", never the end of the connection.
    BIO_set_mem_eof_return(in_, -1);
    SSL_set_bio(ssl_, in_, out_);  // the SSL object owns both now
    SSL_set_connect_state(ssl_);
    // A name goes out as the server name; an address must not (the extension carries names only).
    address_ = IsAddress(host_);
    if (!host_.empty() && !address_) SSL_set_tlsext_host_name(ssl_, host_.c_str());
    if (cache_) {
      SSL_set_ex_data(ssl_, CacheIndex(), cache_.get());
      if (SSL_SESSION* session = cache_->Take()) {
        SSL_set_session(ssl_, session);
        SSL_SESSION_free(session);
      }
    }
  }
  ~OpenSslChannel() override { SSL_free(ssl_); }
  OpenSslChannel(const OpenSslChannel&) = delete;
  OpenSslChannel& operator=(const OpenSslChannel&) = delete;

  void Feed(const char* data, size_t count) override {
    if (count > 0 && BIO_write(in_, data, static_cast<int>(count)) != static_cast<int>(count))
      throw ETlsError("TLS failed: no memory for received bytes");
  }

  std::string TakeOutgoing() override {
    std::string bytes(BIO_ctrl_pending(out_), '\0');
    if (!bytes.empty()) {
      const int n = BIO_read(out_, bytes.data(), static_cast<int>(bytes.size()));
      bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    }
    return bytes;
  }

  bool Handshake() override {
    if (done_) return true;
    ERR_clear_error();
    const int result = SSL_do_handshake(ssl_);
    if (result == 1) {
      done_ = true;
      peer_ = ReadPeer();
      return true;
    }
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) return false;
    throw ETlsError("TLS handshake failed: " + LibraryReason("the connection ended in the handshake"));
  }

  void Write(const char* data, size_t count) override {
    if (count == 0) return;
    ERR_clear_error();
    // Memory BIOs take everything: one call encrypts it all.
    if (SSL_write(ssl_, data, static_cast<int>(count)) <= 0)
      throw ETlsError("TLS failed: " + LibraryReason("cannot encrypt"));
  }

  size_t Read(char* buffer, size_t max) override {
    if (max == 0 || peerClosed_) return 0;
    ERR_clear_error();
    const int result = SSL_read(ssl_, buffer, static_cast<int>(max));
    if (result > 0) return static_cast<size_t>(result);
    switch (SSL_get_error(ssl_, result)) {
      case SSL_ERROR_WANT_READ:
      case SSL_ERROR_WANT_WRITE:
        return 0;
      case SSL_ERROR_ZERO_RETURN:
        peerClosed_ = true;
        return 0;
      default:
        throw ETlsError("TLS failed: " + LibraryReason("a record did not decrypt"));
    }
  }

  bool PeerClosed() const override { return peerClosed_; }

  void Shutdown() override {
    if (!done_ || shutDown_) return;
    shutDown_ = true;
    ERR_clear_error();
    SSL_shutdown(ssl_);  // queues close_notify; the peer's answer is not waited for
    ERR_clear_error();
  }

  TTlsPeer Peer() const override { return peer_; }

 private:
  TTlsPeer ReadPeer() const {
    TTlsPeer peer;
    peer.Protocol = SSL_get_version(ssl_);
    if (const char* cipher = SSL_get_cipher_name(ssl_)) peer.Cipher = cipher;
    peer.Resumed = SSL_session_reused(ssl_) == 1;
    X509* cert = SSL_get1_peer_certificate(ssl_);
    if (cert == nullptr) {
      peer.Problem = "the server sent no certificate";
      return peer;
    }
    unsigned int length = 0;
    X509_digest(cert, EVP_sha256(), peer.Fingerprint.data(), &length);
    const long verify = SSL_get_verify_result(ssl_);
    if (verify != X509_V_OK) {
      peer.Problem = X509_verify_cert_error_string(verify);
    } else if (host_.empty()) {
      peer.Problem = "no host name to check it against";
    } else {
      const int match = address_ ? X509_check_ip_asc(cert, host_.c_str(), 0)
                                 : X509_check_host(cert, host_.data(), host_.size(), 0, nullptr);
      if (match != 1) peer.Problem = "it was not issued for " + host_;
    }
    X509_free(cert);
    ERR_clear_error();
    peer.Verified = peer.Problem.empty();
    return peer;
  }

  std::string host_;
  bool address_ = false;
  std::shared_ptr<OpenSslSessionCache> cache_;
  SSL* ssl_ = nullptr;
  BIO* in_ = nullptr;   // owned by ssl_
  BIO* out_ = nullptr;  // owned by ssl_
  bool done_ = false;
  bool peerClosed_ = false;
  bool shutDown_ = false;
  TTlsPeer peer_;
};

}  // namespace

std::unique_ptr<TTlsChannel> NewTlsClient(const TTlsClientSettings& settings) {
  return std::make_unique<OpenSslChannel>(settings);
}

std::shared_ptr<TTlsSessionCache> NewTlsSessionCache() { return std::make_shared<OpenSslSessionCache>(); }

}  // namespace skelder::net
