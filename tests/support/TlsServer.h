// HTTPS for the online services' tests: a certificate authority of the test's own (openssl)
// that issues server certificates for any host name, and a loopback HTTPS server (Python's
// TLS server) that answers every POST and GET with a fixed text (and HEAD with its length).
#pragma once

#include <memory>
#include <string>

#include "tests/support/Process.h"

namespace tw::test {

struct CertificateFiles {
  bool ok = false;
  std::string certificate, key;  // PEM files
};

class TestAuthority {
 public:
  TestAuthority();
  bool Ok() const { return ca_.ok; }
  // The authority's own certificate: the file a client is told to trust.
  const std::string& CaFile() const { return ca_.certificate; }
  // A server certificate for subjectAltName (e.g. "IP:127.0.0.1", "DNS:wrong.example").
  CertificateFiles Issue(const std::string& subjectAltName);

 private:
  std::string dir_;
  CertificateFiles ca_;
  int issued_ = 0;
};

// A certificate that signs itself, for subjectAltName.
CertificateFiles SelfSigned(const std::string& subjectAltName);

class TlsServer {
 public:
  // body "proxy:http://127.0.0.1:PORT" relays every GET and HEAD to that server instead (its
  // status, length and pace kept): HTTPS in front of a test's own plain server.
  TlsServer(const CertificateFiles& files, std::string body);
  // 0 when the server did not start.
  int Port() const { return port_; }
  // "https://127.0.0.1:<port>"
  std::string Base() const;

 private:
  std::unique_ptr<Process> process_;
  int port_ = 0;
};

}  // namespace tw::test
