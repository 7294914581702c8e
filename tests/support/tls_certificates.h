#pragma once
// Certificates for the TLS tests, made once per test program with the `openssl` command in a
// temporary folder of its own: a test authority, and server certificates for the loopback
// addresses of the TLS tests signed by it, by an authority nobody trusts, for another name only,
// and self-signed. The process trusts the test authority as its "system" store (SSL_CERT_FILE),
// set before anything reads the store, and hands it on to the programs it starts.
#include <string>

namespace skelder::test {

struct TestCertificate {
  std::string cert, key;    // PEM files
  std::string fingerprint;  // SHA-256, "AB:CD:..." as the openssl command prints it
};

struct TestCertificates {
  std::string caFile;         // the authority the process trusts
  TestCertificate good;       // for 127.0.0.40 to 127.0.0.49, by the trusted authority
  TestCertificate wrongName;  // for "wrong.example" only, by the trusted authority
  TestCertificate unknownCa;  // for the loopback addresses, by an authority nobody trusts
  TestCertificate selfSigned;
  std::string why;  // why they could not be made (no openssl command); the rest is then empty
};

// Made on the first call; the same for the program's life.
const TestCertificates& Certificates();

}  // namespace skelder::test
