#pragma once
// The TLS seam: one client-side TLS connection driven over bytes in memory, so that one I/O
// handler runs it over any socket (or through SOCKS), while the platform's TLS library sits
// behind it: OpenSSL (libssl) on POSIX, Schannel (SSPI) on Windows. Only the backend folder
// includes that library's headers.
//
// The backend never fails a handshake for the certificate: it completes the handshake, says in
// Peer() whether the certificate verified against the system's trusted certificates and the host
// name, and the caller decides (a certificate trusted by its fingerprint is accepted). Nothing of
// the caller's is sent before it has decided.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/net_exception.h"

namespace skelder::net {

// A failed handshake, a record that does not decrypt, a peer's fatal alert; the message says
// what the TLS library said.
SKELDER_NET_ERROR(ETlsError, ENetException, "TLS failed.");

using TSha256 = std::array<uint8_t, 32>;

// What a later connection to the same server resumes: a data connection resumes the control
// connection's session (servers may refuse data connections that do not). Opaque; one per FTP
// session, shared by its channels, filled by the backend as sessions are established.
class TTlsSessionCache {
 public:
  virtual ~TTlsSessionCache() = default;
};

struct TTlsClientSettings {
  // Sent as the server name and checked against the certificate. A dotted address is checked
  // as an address.
  std::string HostName;
  // Null: nothing resumed, nothing kept.
  std::shared_ptr<TTlsSessionCache> Session;
};

struct TTlsPeer {
  TSha256 Fingerprint{};  // SHA-256 of the server certificate's DER bytes
  bool Verified = false;  // a chain to a trusted root, valid now, for HostName
  std::string Problem;    // why it did not verify; empty when it did
  std::string Protocol;   // "TLSv1.3", ...
  std::string Cipher;
  bool Resumed = false;  // the handshake resumed the session of the cache
};

class TTlsChannel {
 public:
  virtual ~TTlsChannel() = default;

  // Bytes received from the peer, for the handshake or Read to take.
  virtual void Feed(const char* data, size_t count) = 0;
  // Bytes to send to the peer (handshake records, encrypted data, alerts), taken out.
  virtual std::string TakeOutgoing() = 0;
  // Advances the handshake over the bytes fed so far: true once it has completed. ETlsError on
  // failure. Feed, send what TakeOutgoing gives, and call again until true.
  virtual bool Handshake() = 0;
  // Encrypts application bytes into the outgoing bytes.
  virtual void Write(const char* data, size_t count) = 0;
  // Decrypted application bytes, at most `max`; 0 when the bytes fed so far make none (more must
  // be fed) or after the peer's close_notify (PeerClosed). Records the peer sends after the
  // handshake (session tickets) are taken in here too. ETlsError on a bad record.
  virtual size_t Read(char* buffer, size_t max) = 0;
  virtual bool PeerClosed() const = 0;
  // Queues a close_notify for TakeOutgoing.
  virtual void Shutdown() = 0;
  // Valid once Handshake has returned true.
  virtual TTlsPeer Peer() const = 0;
};

// The platform's TLS client. ETlsError when the TLS library cannot be had.
std::unique_ptr<TTlsChannel> NewTlsClient(const TTlsClientSettings& settings);
std::shared_ptr<TTlsSessionCache> NewTlsSessionCache();

// "AB:CD:..." (upper case, colons between byte pairs).
std::string FingerprintText(const TSha256& fingerprint);
// Fingerprints of 64 hexadecimal digits, colons between byte pairs allowed, either letter case,
// separated by commas (blanks around each ignored, empty items skipped). False with a message
// that quotes the first item that is not one.
bool ParseFingerprints(const std::string& text, std::vector<TSha256>& fingerprints, std::string& problem);

}  // namespace skelder::net
