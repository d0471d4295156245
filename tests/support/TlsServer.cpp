#include "tests/support/TlsServer.h"

#include <cstdlib>
#include <fstream>

#include "tests/support/TestMedia.h"

namespace tw::test {
namespace {

// An elliptic-curve key: made at once, where RSA keys take a while.
const std::vector<std::string> kNewKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                          "-nodes"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

int Openssl(const std::vector<std::string>& args) {
  return RunProcess(With({"openssl"}, args));
}

}  // namespace

TestAuthority::TestAuthority() : dir_(TempDir()) {
  ca_.certificate = dir_ + "/ca.pem";
  ca_.key = dir_ + "/ca.key";
  ca_.ok =
      Openssl(With({"req", "-x509"}, With(kNewKey, {"-keyout", ca_.key, "-out", ca_.certificate, "-days", "2",
                                                    "-subj", "/CN=Tunewell test authority", "-addext",
                                                    "basicConstraints=critical,CA:TRUE", "-addext",
                                                    "keyUsage=critical,keyCertSign,cRLSign"}))) == 0;
}

CertificateFiles TestAuthority::Issue(const std::string& subjectAltName) {
  CertificateFiles files;
  if (!ca_.ok) return files;
  const std::string base = dir_ + "/host" + std::to_string(++issued_);
  files.certificate = base + ".pem";
  files.key = base + ".key";
  std::ofstream(base + ".ext") << "subjectAltName=" << subjectAltName << "\n";
  files.ok =
      Openssl(With({"req"}, With(kNewKey, {"-keyout", files.key, "-out", base + ".csr", "-subj",
                                           "/CN=tunewell-test-host"}))) == 0 &&
      Openssl({"x509", "-req", "-in", base + ".csr", "-CA", ca_.certificate, "-CAkey", ca_.key,
               "-CAcreateserial", "-out", files.certificate, "-days", "2", "-extfile", base + ".ext"}) == 0;
  return files;
}

CertificateFiles SelfSigned(const std::string& subjectAltName) {
  const std::string dir = TempDir();
  CertificateFiles files;
  files.certificate = dir + "/self.pem";
  files.key = dir + "/self.key";
  files.ok =
      Openssl(With({"req", "-x509"}, With(kNewKey, {"-keyout", files.key, "-out", files.certificate, "-days",
                                                    "2", "-subj", "/CN=tunewell-test-host", "-addext",
                                                    "subjectAltName=" + subjectAltName}))) == 0;
  return files;
}

TlsServer::TlsServer(const CertificateFiles& files, std::string body) {
  static const char* const kScript =
      "import http.server, ssl, sys, urllib.request, urllib.error\n"
      "body = sys.argv[3].encode()\n"
      "upstream = sys.argv[3][6:] if sys.argv[3].startswith('proxy:') else None\n"
      "fetch = urllib.request.build_opener(urllib.request.ProxyHandler({}))\n"
      "class H(http.server.BaseHTTPRequestHandler):\n"
      "    def relay(self, method):\n"
      "        try:\n"
      "            r = fetch.open(urllib.request.Request(upstream + self.path, method=method), timeout=120)\n"
      "            status = r.status\n"
      "        except urllib.error.HTTPError as e:\n"
      "            r, status = e, e.code\n"
      "        self.send_response(status)\n"
      "        if r.headers.get('Content-Length') is not None:\n"
      "            self.send_header('Content-Length', r.headers.get('Content-Length'))\n"
      "        self.end_headers()\n"
      "        while method == 'GET':\n"
      "            chunk = r.read(4096)\n"
      "            if not chunk: break\n"
      "            self.wfile.write(chunk)\n"
      "            self.wfile.flush()\n"
      "    def answer(self, send_body):\n"
      "        if upstream: return self.relay('GET' if send_body else 'HEAD')\n"
      "        self.send_response(200)\n"
      "        self.send_header('Content-Length', str(len(body)))\n"
      "        self.end_headers()\n"
      "        if send_body: self.wfile.write(body)\n"
      "    def do_POST(self):\n"
      "        self.rfile.read(int(self.headers.get('Content-Length', 0)))\n"
      "        self.answer(True)\n"
      "    def do_GET(self):\n"
      "        self.answer(True)\n"
      "    def do_HEAD(self):\n"
      "        self.answer(False)\n"
      "    def log_message(self, *args):\n"
      "        pass\n"
      "s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), H)\n"
      "c = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
      "c.load_cert_chain(sys.argv[1], sys.argv[2])\n"
      "s.socket = c.wrap_socket(s.socket, server_side=True)\n"
      "print('port=%d' % s.server_address[1], flush=True)\n"
      "s.serve_forever()\n";
  if (!files.ok) return;
  process_ = std::make_unique<Process>(
      std::vector<std::string>{"python3", "-c", kScript, files.certificate, files.key, std::move(body)});
  const auto ready = [this] {
    return process_->Out().find('\n') != std::string::npos || !Alive(process_->Pid());
  };
  if (!process_->WaitFor(ready, std::chrono::seconds(20))) return;
  const size_t at = process_->Out().find("port=");
  if (at != std::string::npos) port_ = std::atoi(process_->Out().c_str() + at + 5);
}

std::string TlsServer::Base() const {
  return "https://127.0.0.1:" + std::to_string(port_);
}

}  // namespace tw::test
