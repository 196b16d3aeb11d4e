// A private certificate authority and a server certificate for 127.0.0.1 and localhost,
// made with OpenSSL so the sandbox and the test servers serve real HTTPS.
#pragma once

#include <string>

struct TCertificateFiles {
  std::string CaCert;      // PEM, to be trusted by the client
  std::string ServerCert;  // PEM, signed by the CA
  std::string ServerKey;   // PEM, unencrypted
};

// The files inside Dir: ca.pem, ca-key.pem, server.pem, server-key.pem.
TCertificateFiles CertificateFilesIn(const std::string& Dir);

// Makes the CA (when missing) and a server certificate (when missing or not signed by that
// CA) in Dir. Existing valid files are kept, so a client built against the CA keeps working.
// False with Err on failure.
bool EnsureCertificates(const std::string& Dir, std::string* Err);

// A self-signed certificate that no client trusts (for refusal tests), written to Dir as
// untrusted.pem / untrusted-key.pem.
bool MakeUntrustedCertificate(const std::string& Dir, std::string* Err);
