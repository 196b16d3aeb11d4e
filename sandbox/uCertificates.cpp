#include "uCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Cert = std::unique_ptr<X509, decltype(&X509_free)>;

PKey NewKey() {
  return PKey(EVP_RSA_gen(2048), EVP_PKEY_free);
}

bool AddExt(X509* C, X509* Issuer, int Nid, const char* Value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, Issuer, C, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, Nid, Value);
  if (!ext) return false;
  bool ok = X509_add_ext(C, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

Cert MakeCert(EVP_PKEY* Key, const char* CommonName, X509* Issuer, EVP_PKEY* IssuerKey, bool IsCa, long Serial) {
  Cert c(X509_new(), X509_free);
  X509_set_version(c.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c.get()), Serial);
  X509_gmtime_adj(X509_getm_notBefore(c.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c.get()), 60L * 60 * 24 * 3650);
  X509_set_pubkey(c.get(), Key);
  X509_NAME* name = X509_get_subject_name(c.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Zentrik Sandbox"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(CommonName), -1, -1, 0);
  X509* issuer = Issuer ? Issuer : c.get();
  X509_set_issuer_name(c.get(), X509_get_subject_name(issuer));
  if (IsCa) {
    AddExt(c.get(), issuer, NID_basic_constraints, "critical,CA:TRUE");
    AddExt(c.get(), issuer, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExt(c.get(), issuer, NID_subject_key_identifier, "hash");
  } else {
    AddExt(c.get(), issuer, NID_basic_constraints, "critical,CA:FALSE");
    AddExt(c.get(), issuer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExt(c.get(), issuer, NID_ext_key_usage, "serverAuth");
    AddExt(c.get(), issuer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  if (X509_sign(c.get(), IssuerKey ? IssuerKey : Key, EVP_sha256()) == 0) return Cert(nullptr, X509_free);
  return c;
}

// Written beside the target and renamed over it: a sandbox or client reading the folder
// at the same moment sees the old file or the new one, never half of one.
bool WritePem(const std::string& Path, X509* C, EVP_PKEY* K) {
  std::string tmp = Path + ".tmp" + std::to_string(getpid());
  FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) return false;
  if (K) fchmod(fileno(f), 0600);
  bool ok = C ? PEM_write_X509(f, C) == 1 : PEM_write_PrivateKey(f, K, nullptr, nullptr, 0, nullptr, nullptr) == 1;
  ok = (std::fclose(f) == 0) && ok;
  if (!ok || std::rename(tmp.c_str(), Path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

Cert ReadCert(const std::string& Path) {
  FILE* f = std::fopen(Path.c_str(), "rb");
  if (!f) return Cert(nullptr, X509_free);
  X509* c = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  return Cert(c, X509_free);
}

PKey ReadKey(const std::string& Path) {
  FILE* f = std::fopen(Path.c_str(), "rb");
  if (!f) return PKey(nullptr, EVP_PKEY_free);
  EVP_PKEY* k = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  return PKey(k, EVP_PKEY_free);
}

}  // namespace

TCertificateFiles CertificateFilesIn(const std::string& Dir) {
  std::string d = Dir.empty() || Dir.back() == '/' ? Dir : Dir + "/";
  return {d + "ca.pem", d + "server.pem", d + "server-key.pem"};
}

bool EnsureCertificates(const std::string& Dir, std::string* Err) {
  auto fail = [&](const std::string& Text) {
    if (Err) *Err = Text;
    return false;
  };
  mkdir(Dir.c_str(), 0755);
  TCertificateFiles files = CertificateFilesIn(Dir);
  std::string caKeyPath = (Dir.back() == '/' ? Dir : Dir + "/") + "ca-key.pem";
  Cert ca = ReadCert(files.CaCert);
  PKey caKey = ReadKey(caKeyPath);
  if (!ca || !caKey) {
    caKey = NewKey();
    if (!caKey) return fail("cannot generate the CA key");
    ca = MakeCert(caKey.get(), "Zentrik Sandbox CA", nullptr, nullptr, true, 1);
    if (!ca || !WritePem(caKeyPath, nullptr, caKey.get()) || !WritePem(files.CaCert, ca.get(), nullptr))
      return fail("cannot write the CA to " + Dir);
  }
  Cert server = ReadCert(files.ServerCert);
  PKey serverKey = ReadKey(files.ServerKey);
  if (server && serverKey && X509_verify(server.get(), caKey.get()) == 1) return true;
  serverKey = NewKey();
  if (!serverKey) return fail("cannot generate the server key");
  server = MakeCert(serverKey.get(), "127.0.0.1", ca.get(), caKey.get(), false, static_cast<long>(time(nullptr)));
  if (!server || !WritePem(files.ServerKey, nullptr, serverKey.get()) || !WritePem(files.ServerCert, server.get(), nullptr))
    return fail("cannot write the server certificate to " + Dir);
  return true;
}

bool MakeUntrustedCertificate(const std::string& Dir, std::string* Err) {
  std::string d = Dir.back() == '/' ? Dir : Dir + "/";
  PKey k = NewKey();
  Cert c = k ? MakeCert(k.get(), "127.0.0.1", nullptr, nullptr, false, 7) : Cert(nullptr, X509_free);
  if (!c || !WritePem(d + "untrusted-key.pem", nullptr, k.get()) || !WritePem(d + "untrusted.pem", c.get(), nullptr)) {
    if (Err) *Err = "cannot write the untrusted certificate to " + Dir;
    return false;
  }
  return true;
}
