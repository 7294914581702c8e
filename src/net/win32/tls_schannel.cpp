// The Schannel backend of the TLS seam. SSPI and the certificate functions are bound at run time,
// like WS2_32.DLL: the add-in's import table stays as it was, a process that never deploys over
// TLS never loads them, and a system without them fails the TLS location with ETlsError instead
// of failing to load the add-in.
#define SECURITY_WIN32
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
// windows.h first: these need its types.
#include <subauth.h>
#include <wincrypt.h>
#include <schannel.h>
#include <security.h>
#include <sspi.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "net/tls.h"
#include "platform/win32/win32_text.h"

namespace skelder::net {
namespace {

// A record is at most 2^14 bytes of plain text plus the cipher's overhead (2048 at most) and its
// 5-byte header: more than that waiting while the library still says "incomplete" is no record.
constexpr size_t kMaxRecordBytes = 5 + 16384 + 2048;
// A handshake flight with a long certificate chain stays far below this.
constexpr size_t kMaxHandshakeBytes = 512 * 1024;
constexpr unsigned char kAlertRecord = 21;

// The policy's flags that leave only the host name to check (wininet's values; the SSL policy
// reads them from its extra parameter).
constexpr DWORD kIgnoreUnknownAuthority = 0x00000100;
constexpr DWORD kIgnoreWrongUsage = 0x00000200;
constexpr DWORD kIgnoreDateInvalid = 0x00002000;
constexpr DWORD kIgnoreRevocation = 0x00000080;
constexpr DWORD kIgnoreName = 0x00001000;

// What the fed bytes start with is a record's header (content type 20 to 24, a protocol version
// 3.x, a length a record can have), as far as it has come. A server that answers in anything but
// TLS fails at once, instead of after the library has waited for the length its first bytes seem
// to give.
bool LooksLikeRecord(const std::string& bytes) {
  if (bytes.empty()) return true;
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (byte(0) < 20 || byte(0) > 24) return false;
  if (bytes.size() > 1 && byte(1) != 3) return false;
  if (bytes.size() > 4 && static_cast<size_t>((byte(3) << 8) | byte(4)) > kMaxRecordBytes - 5) return false;
  return true;
}

// The four bytes of a dotted address ("127.0.0.1"): four decimal numbers of 0 to 255; false
// for anything else (a host name).
bool DottedAddress(const std::string& text, std::array<BYTE, 4>& address) {
  size_t at = 0;
  for (size_t part = 0; part < 4; ++part) {
    if (part > 0 && (at >= text.size() || text[at++] != '.')) return false;
    unsigned value = 0;
    size_t digits = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4; ++at, ++digits)
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
    if (digits == 0 || digits > 3 || value > 255) return false;
    address[part] = static_cast<BYTE>(value);
  }
  return at == text.size();
}

std::string HexCode(long code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

// The system's text for a status, where it has one, and the number.
std::string StatusText(SECURITY_STATUS status) {
  const std::string text = platform::SystemErrorText(static_cast<DWORD>(status));
  if (text.rfind("Error ", 0) == 0) return "error " + HexCode(status);
  return text + " (" + HexCode(status) + ")";
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(std::max(size, 0)), L'\0');
  if (size > 0) ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(const WCHAR* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string narrow(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), size, nullptr, nullptr);
  narrow.pop_back();
  return narrow;
}

// A system library, loaded from the system folder only (no planted copy beside the host).
class TLibrary {
 public:
  explicit TLibrary(const wchar_t* name) {
    module_ = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Systems without that flag refuse it as an invalid parameter; they search the usual way.
    if (!module_ && ::GetLastError() == ERROR_INVALID_PARAMETER) module_ = ::LoadLibraryW(name);
    if (!module_) {
      const DWORD code = ::GetLastError();
      throw ETlsError("TLS is not available: " + Narrow(name) + " cannot be loaded: " +
                      platform::SystemErrorText(code));
    }
  }
  ~TLibrary() { ::FreeLibrary(module_); }
  TLibrary(const TLibrary&) = delete;
  TLibrary& operator=(const TLibrary&) = delete;

  template <typename Fn>
  void Bind(Fn& function, const char* name) const {
    FARPROC address = ::GetProcAddress(module_, name);
    if (!address) throw ETlsError(std::string("TLS is not available: the system lacks ") + name);
    function = reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
  }

 private:
  HMODULE module_;
};

// SSPI's function table and the certificate functions, shared by every channel and cache alive;
// the libraries are freed with the last of them, never from the loader's lock.
struct TSystemTls {
  TLibrary secur32{L"secur32.dll"};
  TLibrary crypt32{L"crypt32.dll"};
  PSecurityFunctionTableW sspi = nullptr;
  decltype(&::CertGetCertificateChain) CertGetCertificateChain = nullptr;
  decltype(&::CertVerifyCertificateChainPolicy) CertVerifyCertificateChainPolicy = nullptr;
  decltype(&::CertFreeCertificateChain) CertFreeCertificateChain = nullptr;
  decltype(&::CertFreeCertificateContext) CertFreeCertificateContext = nullptr;
  decltype(&::CryptHashCertificate2) CryptHashCertificate2 = nullptr;
  decltype(&::CertFindExtension) CertFindExtension = nullptr;
  decltype(&::CryptDecodeObjectEx) CryptDecodeObjectEx = nullptr;

  TSystemTls() {
    INIT_SECURITY_INTERFACE_W init = nullptr;
    secur32.Bind(init, "InitSecurityInterfaceW");
    sspi = init();
    if (!sspi) throw ETlsError("TLS is not available: the system's security interface did not start");
    crypt32.Bind(CertGetCertificateChain, "CertGetCertificateChain");
    crypt32.Bind(CertVerifyCertificateChainPolicy, "CertVerifyCertificateChainPolicy");
    crypt32.Bind(CertFreeCertificateChain, "CertFreeCertificateChain");
    crypt32.Bind(CertFreeCertificateContext, "CertFreeCertificateContext");
    crypt32.Bind(CryptHashCertificate2, "CryptHashCertificate2");
    crypt32.Bind(CertFindExtension, "CertFindExtension");
    crypt32.Bind(CryptDecodeObjectEx, "CryptDecodeObjectEx");
  }

  static std::shared_ptr<const TSystemTls> Get() {
    static std::mutex lock;
    static std::weak_ptr<const TSystemTls> current;
    std::lock_guard<std::mutex> guard(lock);
    std::shared_ptr<const TSystemTls> tls = current.lock();
    if (!tls) {
      tls = std::make_shared<const TSystemTls>();
      current = tls;
    }
    return tls;
  }
};

// A credentials handle, freed once.
class TCredentials {
 public:
  explicit TCredentials(std::shared_ptr<const TSystemTls> tls) : tls_(std::move(tls)) {
    // Certificates are checked after the handshake (the caller may trust one by its
    // fingerprint), and no client certificate is ever picked for the user.
    const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = ~static_cast<DWORD>(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT);
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = flags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    SECURITY_STATUS status = Acquire(&current);
    if (status != SEC_E_OK) {
      // Systems before the current credentials format know only the older one, and TLS 1.2.
      SCHANNEL_CRED older{};
      older.dwVersion = SCHANNEL_CRED_VERSION;
      older.dwFlags = flags;
      older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
      status = Acquire(&older);
    }
    if (status != SEC_E_OK) throw ETlsError("TLS credentials could not be had: " + StatusText(status));
  }
  ~TCredentials() { tls_->sspi->FreeCredentialsHandle(&handle_); }
  TCredentials(const TCredentials&) = delete;
  TCredentials& operator=(const TCredentials&) = delete;

  CredHandle* Handle() { return &handle_; }

 private:
  SECURITY_STATUS Acquire(void* data) {
    TimeStamp expiry{};
    wchar_t package[] = UNISP_NAME_W;
    return tls_->sspi->AcquireCredentialsHandleW(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, data, nullptr,
                                                 nullptr, &handle_, &expiry);
  }

  std::shared_ptr<const TSystemTls> tls_;
  CredHandle handle_{};
};

// The system keeps sessions per credentials handle and target name: one handle for all channels
// of an FTP session is what lets its data connections resume the control connection's session.
class TSchannelSessionCache : public TTlsSessionCache {
 public:
  std::shared_ptr<TCredentials> Credentials() {
    std::lock_guard<std::mutex> guard(lock_);
    if (!credentials_) credentials_ = std::make_shared<TCredentials>(TSystemTls::Get());
    return credentials_;
  }

 private:
  std::mutex lock_;
  std::shared_ptr<TCredentials> credentials_;
};

// A buffer the system allocated, freed once.
class TContextBuffer {
 public:
  TContextBuffer(const TSystemTls& tls, void* data) : tls_(tls), data_(data) {}
  ~TContextBuffer() {
    if (data_) tls_.sspi->FreeContextBuffer(data_);
  }
  TContextBuffer(const TContextBuffer&) = delete;
  TContextBuffer& operator=(const TContextBuffer&) = delete;

 private:
  const TSystemTls& tls_;
  void* data_;
};

class TCertificate {
 public:
  TCertificate(const TSystemTls& tls, PCCERT_CONTEXT context) : tls_(tls), context_(context) {}
  ~TCertificate() {
    if (context_) tls_.CertFreeCertificateContext(context_);
  }
  TCertificate(const TCertificate&) = delete;
  TCertificate& operator=(const TCertificate&) = delete;
  PCCERT_CONTEXT Get() const { return context_; }

 private:
  const TSystemTls& tls_;
  PCCERT_CONTEXT context_;
};

class TChain {
 public:
  explicit TChain(const TSystemTls& tls) : tls_(tls) {}
  ~TChain() {
    if (chain_) tls_.CertFreeCertificateChain(chain_);
  }
  TChain(const TChain&) = delete;
  TChain& operator=(const TChain&) = delete;
  PCCERT_CHAIN_CONTEXT* Out() { return &chain_; }
  PCCERT_CHAIN_CONTEXT Get() const { return chain_; }

 private:
  const TSystemTls& tls_;
  PCCERT_CHAIN_CONTEXT chain_ = nullptr;
};

std::string ProtocolName(DWORD protocol) {
  if (protocol & SP_PROT_TLS1_3_CLIENT) return "TLSv1.3";
  if (protocol & SP_PROT_TLS1_2_CLIENT) return "TLSv1.2";
  if (protocol & SP_PROT_TLS1_1_CLIENT) return "TLSv1.1";
  if (protocol & SP_PROT_TLS1_0_CLIENT) return "TLSv1";
  return "protocol " + HexCode(static_cast<long>(protocol));
}

std::string AlgorithmName(ALG_ID algorithm, DWORD strength) {
  switch (algorithm) {
    case CALG_AES_128: return "AES-128";
    case CALG_AES_192: return "AES-192";
    case CALG_AES_256: return "AES-256";
    case CALG_AES: return "AES-" + std::to_string(strength);
    case CALG_3DES: return "3DES";
    case CALG_SHA1: return "SHA1";
    case CALG_SHA_256: return "SHA256";
    case CALG_SHA_384: return "SHA384";
    case CALG_SHA_512: return "SHA512";
    case CALG_ECDH_EPHEM: return "ECDHE";
    case CALG_ECDH: return "ECDH";
    case CALG_DH_EPHEM: return "DHE";
    case CALG_RSA_KEYX: return "RSA";
    default: return "algorithm " + HexCode(static_cast<long>(algorithm));
  }
}

class TSchannelChannel : public TTlsChannel {
 public:
  explicit TSchannelChannel(const TTlsClientSettings& settings)
      : tls_(TSystemTls::Get()), hostName_(settings.HostName), target_(Wide(settings.HostName)) {
    // A cache of another backend resumes nothing: the channel keeps credentials of its own.
    auto* cache = dynamic_cast<TSchannelSessionCache*>(settings.Session.get());
    credentials_ = cache ? cache->Credentials() : std::make_shared<TCredentials>(tls_);
  }

  ~TSchannelChannel() override {
    if (haveContext_) tls_->sspi->DeleteSecurityContext(&context_);
  }

  void Feed(const char* data, size_t count) override { in_.append(data, count); }

  std::string TakeOutgoing() override {
    std::string out;
    out.swap(out_);
    return out;
  }

  bool Handshake() override {
    if (failed_) throw ETlsError("TLS failed earlier on this connection");
    if (open_) return true;
    try {
      if (!haveContext_) {
        Step(false);
        return false;
      }
      if (!Negotiate()) return false;
      Established();
      return true;
    } catch (...) {
      failed_ = true;
      throw;
    }
  }

  void Write(const char* data, size_t count) override {
    if (!open_ || failed_) throw ETlsError("TLS connection not established");
    while (count > 0) {
      const size_t piece = std::min<size_t>(count, sizes_.cbMaximumMessage);
      std::string record(sizes_.cbHeader + piece + sizes_.cbTrailer, '\0');
      std::memcpy(record.data() + sizes_.cbHeader, data, piece);
      SecBuffer buffers[4] = {
          {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()},
          {static_cast<unsigned long>(piece), SECBUFFER_DATA, record.data() + sizes_.cbHeader},
          {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record.data() + sizes_.cbHeader + piece},
          {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
      const SECURITY_STATUS status = tls_->sspi->EncryptMessage(&context_, 0, &description, 0);
      if (status != SEC_E_OK) {
        failed_ = true;
        throw ETlsError("TLS could not encrypt: " + StatusText(status));
      }
      // The trailer may come out shorter than its room.
      out_.append(record.data(), buffers[0].cbBuffer + buffers[1].cbBuffer);
      out_.append(record.data() + sizes_.cbHeader + piece, buffers[2].cbBuffer);
      data += piece;
      count -= piece;
    }
  }

  size_t Read(char* buffer, size_t max) override {
    if (failed_) throw ETlsError("TLS failed earlier on this connection");
    if (!open_) throw ETlsError("TLS connection not established");
    try {
      while (plain_.size() == taken_ && !peerClosed_) {
        if (renegotiating_) {
          if (!Negotiate()) break;
          renegotiating_ = false;
        }
        if (!DecryptOne()) break;
      }
    } catch (...) {
      failed_ = true;
      throw;
    }
    const size_t count = std::min(max, plain_.size() - taken_);
    std::memcpy(buffer, plain_.data() + taken_, count);
    taken_ += count;
    if (taken_ == plain_.size()) {
      plain_.clear();
      taken_ = 0;
    }
    return count;
  }

  bool PeerClosed() const override { return peerClosed_ && plain_.empty(); }

  void Shutdown() override {
    if (!haveContext_ || shutDown_ || failed_) return;
    shutDown_ = true;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc description{SECBUFFER_VERSION, 1, &token};
    SECURITY_STATUS status = tls_->sspi->ApplyControlToken(&context_, &description);
    if (status != SEC_E_OK) throw ETlsError("TLS could not close: " + StatusText(status));
    // The close_notify alert comes out of the next handshake call.
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDescription{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    status = tls_->sspi->InitializeSecurityContextW(credentials_->Handle(), &context_, TargetName(), kRequest, 0, 0,
                                                    nullptr, 0, &context_, &outDescription, &attributes, nullptr);
    TContextBuffer owned(*tls_, out.pvBuffer);
    if (out.pvBuffer && out.cbBuffer) out_.append(static_cast<const char*>(out.pvBuffer), out.cbBuffer);
    if (FAILED(status)) throw ETlsError("TLS could not close: " + StatusText(status));
  }

  TTlsPeer Peer() const override { return peer_; }

 private:
  static constexpr ULONG kRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                    ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                                    ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_MANUAL_CRED_VALIDATION;

  SEC_WCHAR* TargetName() { return target_.empty() ? nullptr : target_.data(); }

  // One call of the handshake over what has been fed (none for the first): what it says to send
  // goes out; what it did not take stays. The system's status.
  SECURITY_STATUS Step(bool withInput) {
    SecBuffer in[2] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_TOKEN, in_.data()},
                       {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
    SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc outDescription{SECBUFFER_VERSION, 2, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status = tls_->sspi->InitializeSecurityContextW(
        credentials_->Handle(), haveContext_ ? &context_ : nullptr, TargetName(), kRequest, 0, 0,
        withInput ? &inDescription : nullptr, 0, &context_, &outDescription, &attributes,
        nullptr);
    TContextBuffer token(*tls_, out[0].pvBuffer), alert(*tls_, out[1].pvBuffer);
    if (!haveContext_ && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)) haveContext_ = true;
    // A failure may still carry an alert for the server: it goes out with the rest.
    if (out[0].pvBuffer && out[0].cbBuffer) out_.append(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
    if (out[1].pvBuffer && out[1].cbBuffer) out_.append(static_cast<const char*>(out[1].pvBuffer), out[1].cbBuffer);
    if (!haveContext_ && FAILED(status)) throw ETlsError("TLS handshake failed: " + StatusText(status));
    if (withInput && status != SEC_E_INCOMPLETE_MESSAGE) {
      if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= in_.size())
        in_.erase(0, in_.size() - in[1].cbBuffer);
      else
        in_.clear();
    }
    return status;
  }

  // Drives the handshake (the first one, or one the server asked for later) over the bytes fed:
  // true once it has completed, false when it needs more from the server.
  bool Negotiate() {
    for (;;) {
      if (in_.empty()) return false;
      if (!LooksLikeRecord(in_)) throw ETlsError("TLS handshake failed: the server does not answer in TLS");
      const SECURITY_STATUS status = Step(true);
      switch (status) {
        case SEC_E_OK:
          return true;
        case SEC_E_INCOMPLETE_MESSAGE:
          if (in_.size() > kMaxHandshakeBytes) throw ETlsError("TLS handshake failed: the server's message is too long");
          return false;
        case SEC_I_CONTINUE_NEEDED:
        // The server asks for a client certificate: the handshake goes on without one.
        case SEC_I_INCOMPLETE_CREDENTIALS:
          continue;
        default:
          throw ETlsError("TLS handshake failed: " + StatusText(status));
      }
    }
  }

  // Decrypts the next record of what has been fed: false when none is whole yet.
  bool DecryptOne() {
    if (in_.empty()) return false;
    if (!LooksLikeRecord(in_)) throw ETlsError("TLS failed: the server sent something that is not TLS");
    const bool alert = static_cast<unsigned char>(in_[0]) == kAlertRecord;
    SecBuffer buffers[4] = {{static_cast<unsigned long>(in_.size()), SECBUFFER_DATA, in_.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    const SECURITY_STATUS status = tls_->sspi->DecryptMessage(&context_, &description, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      if (in_.size() > kMaxRecordBytes) throw ETlsError("TLS failed: the server's record is too long");
      return false;
    }
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED)
      throw ETlsError("TLS failed: " + StatusText(status));
    // The plain text and the rest lie inside the fed bytes: both are taken out before those go.
    std::string extra;
    for (const SecBuffer& buffer : buffers) {
      if (buffer.BufferType == SECBUFFER_DATA && buffer.cbBuffer > 0)
        plain_.append(static_cast<const char*>(buffer.pvBuffer), buffer.cbBuffer);
      if (buffer.BufferType == SECBUFFER_EXTRA && buffer.cbBuffer > 0 && buffer.cbBuffer <= in_.size())
        extra.assign(in_.data() + in_.size() - buffer.cbBuffer, buffer.cbBuffer);
    }
    in_.swap(extra);
    // Some implementations (wine's) take the peer's close_notify as a record without data instead
    // of saying the context expired. Below TLS 1.3 an alert is a record of its own type, and the
    // only one that leaves the connection standing, a warning, is in practice that close.
    if (status == SEC_I_CONTEXT_EXPIRED || (status == SEC_E_OK && alert && plain_.size() == taken_)) {
      peerClosed_ = true;
    } else if (status == SEC_I_RENEGOTIATE) {
      // A handshake message after the handshake (a session ticket, a key update, a request to
      // negotiate again): the rest goes back through the handshake before more is decrypted.
      renegotiating_ = true;
      if (in_.empty()) {
        // Nothing left over: the system holds the message itself and wants an empty call.
        const SECURITY_STATUS again = StepWithEmptyToken();
        if (again == SEC_E_OK) renegotiating_ = false;
        else if (again != SEC_I_CONTINUE_NEEDED && again != SEC_E_INCOMPLETE_MESSAGE)
          throw ETlsError("TLS handshake failed: " + StatusText(again));
      }
    }
    return true;
  }

  SECURITY_STATUS StepWithEmptyToken() {
    SecBuffer in[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDescription{SECBUFFER_VERSION, 2, in};
    SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
    SecBufferDesc outDescription{SECBUFFER_VERSION, 2, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status =
        tls_->sspi->InitializeSecurityContextW(credentials_->Handle(), &context_, TargetName(), kRequest, 0, 0,
                                               &inDescription, 0, &context_, &outDescription, &attributes, nullptr);
    TContextBuffer token(*tls_, out[0].pvBuffer), alert(*tls_, out[1].pvBuffer);
    if (out[0].pvBuffer && out[0].cbBuffer) out_.append(static_cast<const char*>(out[0].pvBuffer), out[0].cbBuffer);
    if (out[1].pvBuffer && out[1].cbBuffer) out_.append(static_cast<const char*>(out[1].pvBuffer), out[1].cbBuffer);
    return status;
  }

  void Established() {
    SECURITY_STATUS status = tls_->sspi->QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK) throw ETlsError("TLS handshake failed: " + StatusText(status));
    open_ = true;

    SecPkgContext_ConnectionInfo connection{};
    if (tls_->sspi->QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) == SEC_E_OK) {
      peer_.Protocol = ProtocolName(connection.dwProtocol);
      peer_.Cipher = AlgorithmName(connection.aiCipher, connection.dwCipherStrength);
      if (connection.aiHash) peer_.Cipher += " " + AlgorithmName(connection.aiHash, connection.dwHashStrength);
    }
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (tls_->sspi->QueryContextAttributesW(&context_, SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK) {
      // The suite's name. Wine leaves its last part, the hash, unnamed ("..._GCM_<unknown>"):
      // the connection's hash names it.
      std::string suite = Narrow(cipher.szCipherSuite);
      const size_t unnamed = suite.find("<unknown>");
      const std::string hash = AlgorithmName(connection.aiHash, connection.dwHashStrength);
      if (unnamed != std::string::npos && unnamed + 9 == suite.size() && hash.rfind("SHA", 0) == 0)
        suite.replace(unnamed, 9, hash);
      if (!suite.empty() && suite.find('<') == std::string::npos) peer_.Cipher = suite;
    }
    SecPkgContext_SessionInfo session{};
    if (tls_->sspi->QueryContextAttributesW(&context_, SECPKG_ATTR_SESSION_INFO, &session) == SEC_E_OK)
      peer_.Resumed = (session.dwFlags & SSL_SESSION_RECONNECT) != 0;

    PCCERT_CONTEXT remote = nullptr;
    status = tls_->sspi->QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote);
    TCertificate certificate(*tls_, status == SEC_E_OK ? remote : nullptr);
    if (!certificate.Get()) {
      peer_.Problem = "the server sent no certificate";
      return;
    }
    DWORD size = static_cast<DWORD>(peer_.Fingerprint.size());
    if (!tls_->CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, certificate.Get()->pbCertEncoded,
                                     certificate.Get()->cbCertEncoded, peer_.Fingerprint.data(), &size) ||
        size != peer_.Fingerprint.size())
      throw ETlsError("TLS failed: the server certificate's fingerprint cannot be computed: " +
                      platform::SystemErrorText(::GetLastError()));
    peer_.Problem = Verify(certificate.Get());
    peer_.Verified = peer_.Problem.empty();
  }

  // Why the certificate does not verify for the host name; empty when it does. Revocation is
  // not checked: lists and responders are often out of reach, and a blocked lookup would stall
  // the deployment.
  std::string Verify(PCCERT_CONTEXT certificate) const {
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof parameters;
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    TChain chain(*tls_);
    // The store of the server's certificate holds the intermediates it sent.
    if (!tls_->CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &parameters, 0, nullptr,
                                       chain.Out()))
      return "its chain cannot be built: " + platform::SystemErrorText(::GetLastError());
    DWORD problem = PolicyError(chain.Get(), 0);
    // A server named by its address carries the address among its alternative names, which some
    // policies (wine's) do not compare: the address is compared here, and the rest is theirs.
    const bool addressMatches = CertificateHasAddress(certificate);
    if (problem == static_cast<DWORD>(CERT_E_CN_NO_MATCH) && addressMatches) problem = PolicyError(chain.Get(), kIgnoreName);
    // Some policies pass a chain that ends short of any root (wine's does): the chain's own
    // status is read as well.
    if (problem == 0) problem = ChainError(chain.Get()->TrustStatus.dwErrorStatus);
    if (problem == 0) return {};
    std::string text = ProblemText(problem, chain.Get());
    if (problem != static_cast<DWORD>(CERT_E_CN_NO_MATCH) && !addressMatches &&
        PolicyError(chain.Get(), kIgnoreUnknownAuthority | kIgnoreWrongUsage | kIgnoreDateInvalid |
                                     kIgnoreRevocation) == static_cast<DWORD>(CERT_E_CN_NO_MATCH))
      text += "; " + ProblemText(static_cast<DWORD>(CERT_E_CN_NO_MATCH), chain.Get());
    return text;
  }

  // Whether the host is a dotted address that the certificate names as an address.
  bool CertificateHasAddress(PCCERT_CONTEXT certificate) const {
    std::array<BYTE, 4> address{};
    if (!DottedAddress(hostName_, address)) return false;
    const CERT_INFO* info = certificate->pCertInfo;
    PCERT_EXTENSION extension = tls_->CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    if (!extension) return false;
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (!tls_->CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                   extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names, &size))
      return false;
    bool found = false;
    for (DWORD i = 0; i < names->cAltEntry && !found; ++i) {
      const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
      found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == address.size() &&
              std::memcmp(entry.IPAddress.pbData, address.data(), address.size()) == 0;
    }
    ::LocalFree(names);
    return found;
  }

  // The policy's error for what the chain's status says; revocation is not asked for, so its
  // status does not count.
  static DWORD ChainError(DWORD status) {
    status &= ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (status == CERT_TRUST_NO_ERROR) return 0;
    if (status & CERT_TRUST_IS_PARTIAL_CHAIN) return static_cast<DWORD>(CERT_E_CHAINING);
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<DWORD>(CERT_E_EXPIRED);
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) return static_cast<DWORD>(TRUST_E_CERT_SIGNATURE);
    if (status & CERT_TRUST_IS_REVOKED) return static_cast<DWORD>(CERT_E_REVOKED);
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return static_cast<DWORD>(CERT_E_WRONG_USAGE);
    return static_cast<DWORD>(CERT_E_CHAINING);
  }

  DWORD PolicyError(PCCERT_CHAIN_CONTEXT chain, DWORD ignore) const {
    std::wstring server = target_;
    HTTPSPolicyCallbackData extra{};
    extra.cbSize = sizeof extra;
    extra.dwAuthType = AUTHTYPE_SERVER;
    extra.fdwChecks = ignore;
    extra.pwszServerName = server.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!tls_->CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status))
      return ::GetLastError() ? ::GetLastError() : static_cast<DWORD>(CERT_E_CHAINING);
    return status.dwError;
  }

  std::string ProblemText(DWORD code, PCCERT_CHAIN_CONTEXT chain) const {
    switch (static_cast<HRESULT>(code)) {
      case CERT_E_UNTRUSTEDROOT:
        if (chain->cChain > 0 && chain->rgpChain[0]->cElement == 1)
          return "the certificate is self-signed and not trusted";
        return "the certificate is signed by an authority that is not trusted";
      case CERT_E_CHAINING:
        return "the certificate is signed by an unknown authority";
      case CERT_E_EXPIRED:
        return "the certificate has expired or is not valid yet";
      case CERT_E_CN_NO_MATCH:
        return "the certificate is not for " + hostName_;
      case CERT_E_WRONG_USAGE:
        return "the certificate is not for a server";
      case CERT_E_REVOKED:
        return "the certificate has been revoked";
      case TRUST_E_CERT_SIGNATURE:
        return "the certificate's signature is wrong";
      default:
        return "the certificate does not verify: " + StatusText(static_cast<SECURITY_STATUS>(code));
    }
  }

  std::shared_ptr<const TSystemTls> tls_;
  std::shared_ptr<TCredentials> credentials_;
  std::string hostName_;
  std::wstring target_;
  CtxtHandle context_{};
  bool haveContext_ = false;
  bool open_ = false;
  bool failed_ = false;
  bool renegotiating_ = false;
  bool peerClosed_ = false;
  bool shutDown_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::string in_;     // fed, not taken by the system yet
  std::string out_;    // for TakeOutgoing
  std::string plain_;  // decrypted, at most one record, from taken_ on not read yet
  size_t taken_ = 0;
  TTlsPeer peer_;
};

}  // namespace

std::unique_ptr<TTlsChannel> NewTlsClient(const TTlsClientSettings& settings) {
  return std::make_unique<TSchannelChannel>(settings);
}

std::shared_ptr<TTlsSessionCache> NewTlsSessionCache() { return std::make_shared<TSchannelSessionCache>(); }

}  // namespace skelder::net
