#include "net/test_pki.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "net/test_http_server.h"

namespace pellora::testing {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;
using BigNumPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

constexpr long kDay = 24 * 60 * 60;

// Throws with the oldest error OpenSSL queued, which names the call that failed first.
void Check(bool ok, const std::string& what) {
  if (ok) return;
  std::string message = "test PKI: " + what;
  if (const unsigned long code = ERR_get_error(); code != 0) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    message += " (" + std::string(text) + ")";
  }
  ERR_clear_error();
  throw std::runtime_error(message);
}

KeyPtr NewKey() {
  KeyPtr key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "cannot make an EC P-256 key");
  return key;
}

// Who signs a certificate; a null certificate means the certificate signs itself.
struct Signer {
  const X509* cert;
  EVP_PKEY* key;
};

struct Profile {
  std::string common_name;
  bool ca;
  std::string subject_alt_name;  // empty for a CA
  long not_before;               // seconds from now
  long not_after;
};

void AddExtension(X509* cert, X509V3_CTX& context, int nid, const std::string& value) {
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  Check(extension != nullptr && X509_add_ext(cert, extension.get(), -1) == 1,
        "cannot add extension " + std::string(OBJ_nid2sn(nid)) + " = " + value);
}

CertPtr MakeCertificate(const Profile& profile, EVP_PKEY* key, Signer signer) {
  CertPtr cert(X509_new());
  Check(cert != nullptr && X509_set_version(cert.get(), X509_VERSION_3) == 1,
        "cannot start a certificate");

  // Random serials: a client that caches by issuer and serial must never mix two runs up.
  BigNumPtr serial(BN_new());
  Check(serial != nullptr && BN_rand(serial.get(), 120, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr,
        "cannot set a serial number");

  Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), profile.not_before) != nullptr &&
            X509_gmtime_adj(X509_getm_notAfter(cert.get()), profile.not_after) != nullptr,
        "cannot set the validity");

  X509_NAME* subject = X509_get_subject_name(cert.get());
  const auto text = [](const char* s) { return reinterpret_cast<const unsigned char*>(s); };
  Check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC, text("Pellora tests"), -1, -1, 0) ==
                1 &&
            X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                       text(profile.common_name.c_str()), -1, -1, 0) == 1,
        "cannot set the subject");
  const X509* issuer = signer.cert != nullptr ? signer.cert : cert.get();
  Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer)) == 1 &&
            X509_set_pubkey(cert.get(), key) == 1,
        "cannot set issuer and key");

  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, const_cast<X509*>(issuer), cert.get(), nullptr, nullptr, 0);
  if (profile.ca) {
    AddExtension(cert.get(), context, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), context, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert.get(), context, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), context, NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), context, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), context, NID_subject_alt_name, profile.subject_alt_name);
  }
  // The subject key identifier first: a self-signed authority key identifier refers to it.
  AddExtension(cert.get(), context, NID_subject_key_identifier, "hash");
  AddExtension(cert.get(), context, NID_authority_key_identifier, "keyid:always");

  Check(X509_sign(cert.get(), signer.key != nullptr ? signer.key : key, EVP_sha256()) > 0,
        "cannot sign the certificate of " + profile.common_name);
  return cert;
}

void WriteCertificate(const std::string& path, X509* cert) {
  BioPtr file(BIO_new_file(path.c_str(), "w"));
  Check(file != nullptr && PEM_write_bio_X509(file.get(), cert) == 1, "cannot write " + path);
}

void WriteKey(const std::string& path, EVP_PKEY* key) {
  BioPtr file(BIO_new_file(path.c_str(), "w"));
  Check(file != nullptr &&
            PEM_write_bio_PrivateKey(file.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "cannot write " + path);
}

struct Authority {
  KeyPtr key;
  CertPtr cert;
};

Authority MakeAuthority(const std::string& name) {
  Authority authority{NewKey(), nullptr};
  authority.cert =
      MakeCertificate({name, true, "", -30 * kDay, 30 * kDay}, authority.key.get(), {});
  return authority;
}

}  // namespace

struct TestPki::State {
  TempDir dir;
  Authority ca;
  Authority other_ca;  // made with the first UnknownIssuer certificate
  std::mutex mutex;
  std::map<Kind, TestCertificate> servers;
};

TestPki::TestPki() : state_(std::make_unique<State>()) {
  state_->ca = MakeAuthority("Pellora Test CA");
  WriteCertificate(CaFile(), state_->ca.cert.get());
}

TestPki::~TestPki() = default;

std::string TestPki::CaFile() const {
  return state_->dir.Path("ca.pem");
}

const TestCertificate& TestPki::Server(Kind kind) const {
  std::lock_guard lock(state_->mutex);
  if (const auto found = state_->servers.find(kind); found != state_->servers.end()) {
    return found->second;
  }

  const std::string good_names = "DNS:localhost,IP:127.0.0.1,IP:::1";
  Profile profile{"localhost", false, good_names, -kDay, 30 * kDay};
  const Authority* issuer = &state_->ca;
  std::string stem;
  switch (kind) {
    case Kind::Good:
      stem = "good";
      break;
    case Kind::Expired:
      stem = "expired";
      profile.not_before = -10 * kDay;
      profile.not_after = -kDay;
      break;
    case Kind::WrongName:
      stem = "wrong-name";
      profile.common_name = "other.invalid";
      profile.subject_alt_name = "DNS:other.invalid";
      break;
    case Kind::UnknownIssuer:
      stem = "unknown-issuer";
      if (state_->other_ca.cert == nullptr) {
        state_->other_ca = MakeAuthority("Pellora Other Test CA");
        WriteCertificate(state_->dir.Path("other-ca.pem"), state_->other_ca.cert.get());
      }
      issuer = &state_->other_ca;
      break;
  }

  const KeyPtr key = NewKey();
  const CertPtr cert = MakeCertificate(profile, key.get(), {issuer->cert.get(), issuer->key.get()});
  TestCertificate files{state_->dir.Path(stem + ".pem"), state_->dir.Path(stem + ".key")};
  WriteCertificate(files.CertPath, cert.get());
  WriteKey(files.KeyPath, key.get());
  return state_->servers.emplace(kind, std::move(files)).first->second;
}

}  // namespace pellora::testing
