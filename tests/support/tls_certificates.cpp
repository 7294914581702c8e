#include "tls_certificates.h"

#include <cstdlib>
#include <memory>

#include "test_support.h"

namespace skelder::test {
namespace {

constexpr const char* kAddresses =
    "IP:127.0.0.40,IP:127.0.0.41,IP:127.0.0.42,IP:127.0.0.43,IP:127.0.0.44,IP:127.0.0.45,IP:127.0.0.46,"
    "IP:127.0.0.47,IP:127.0.0.48,IP:127.0.0.49";

bool Run(const std::string& command, std::string& why) {
  std::string output;
  if (RunCommand(command + " 2>&1", &output) == 0) return true;
  why = "openssl failed: " + command + ": " + output;
  return false;
}

std::string Fingerprint(const std::string& cert, std::string& why) {
  std::string output;
  if (RunCommand("openssl x509 -in '" + cert + "' -noout -fingerprint -sha256", &output) != 0) {
    why = "openssl cannot read " + cert;
    return {};
  }
  const size_t eq = output.find('=');
  std::string text = eq == std::string::npos ? std::string() : output.substr(eq + 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// An authority: key and self-signed certificate.
bool MakeAuthority(const std::string& dir, const std::string& name, std::string& why) {
  return Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + dir + "/" + name + ".key' -out '" + dir + "/" +
                 name + ".pem' -days 30 -subj '/CN=Skelder " + name +
                 "' -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign",
             why);
}

bool MakeSigned(const std::string& dir, const std::string& name, const std::string& ca, const std::string& altNames,
                TestCertificate& out, std::string& why) {
  const std::string base = dir + "/" + name;
  WriteFile(base + ".ext", "subjectAltName=" + altNames + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
  if (!Run("openssl req -newkey rsa:2048 -nodes -keyout '" + base + ".key' -out '" + base + ".csr' -subj '/CN=" + name +
               "'",
           why) ||
      !Run("openssl x509 -req -in '" + base + ".csr' -CA '" + dir + "/" + ca + ".pem' -CAkey '" + dir + "/" + ca +
               ".key' -CAcreateserial -out '" + base + ".pem' -days 30 -extfile '" + base + ".ext'",
           why))
    return false;
  out = {base + ".pem", base + ".key", Fingerprint(base + ".pem", why)};
  return !out.fingerprint.empty();
}

TestCertificates Make() {
  static TempDir dir("skelder-tls-");  // for the program's life
  TestCertificates c;
  const std::string d = dir.path();
  if (RunCommand("openssl version >/dev/null 2>&1") != 0) {
    c.why = "the openssl command is not installed (package openssl)";
    return c;
  }
  if (!MakeAuthority(d, "trusted-ca", c.why) || !MakeAuthority(d, "unknown-ca", c.why) ||
      !MakeSigned(d, "good", "trusted-ca", kAddresses, c.good, c.why) ||
      !MakeSigned(d, "wrong-name", "trusted-ca", "DNS:wrong.example", c.wrongName, c.why) ||
      !MakeSigned(d, "unknown-ca-signed", "unknown-ca", kAddresses, c.unknownCa, c.why) ||
      !Run("openssl req -x509 -newkey rsa:2048 -nodes -keyout '" + d + "/self.key' -out '" + d +
               "/self.pem' -days 30 -subj /CN=self -addext subjectAltName=" + kAddresses,
           c.why))
    return TestCertificates{{}, {}, {}, {}, {}, c.why};
  c.selfSigned = {d + "/self.pem", d + "/self.key", Fingerprint(d + "/self.pem", c.why)};
  c.caFile = d + "/trusted-ca.pem";
  // The store the TLS library reads as the system's, here and in every program started later.
  setenv("SSL_CERT_FILE", c.caFile.c_str(), 1);
  setenv("SSL_CERT_DIR", (d + "/no-such-dir").c_str(), 1);
  return c;
}

}  // namespace

const TestCertificates& Certificates() {
  static const TestCertificates certificates = Make();
  return certificates;
}

}  // namespace skelder::test
