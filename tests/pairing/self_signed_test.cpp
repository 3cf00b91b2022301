#include "pairing/self_signed.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "support/certificate_reader.h"
#include "support/faulty_keys.h"
#include "util/bytes.h"

namespace lumenvale {
namespace {

using namespace std::chrono;

constexpr std::string_view kName = "Lumenvale 3f2504e0-4f89-41d3-9a0c-0305e82c3301";
// The first byte is zero and the second has its high bit set: the encoder
// must drop the zero and then put one back for the sign.
const std::string kSerial("\x00\x9c\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e", 16);
const TimePoint kNotBefore = sys_days(2026y / March / 7) + hours(9) + minutes(5) + seconds(2);
const TimePoint kNotAfter = kNotBefore + seconds(315360000);

struct CommandRun {
  int status;
  std::string output;
};

CommandRun run(const std::string& command) {
  CommandRun result{-1, ""};
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
  const int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// fields reads "key=value" lines.
std::map<std::string, std::string> fields(const std::string& output) {
  std::map<std::string, std::string> values;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    if (const std::size_t equals = line.find('='); equals != std::string::npos) {
      values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    start = end + 1;
  }
  return values;
}

std::size_t occurrences(const std::string& text, std::string_view needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++count;
  return count;
}

class SelfSignedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeyResult<Key> made = keys_.makeKey();
    ASSERT_TRUE(made) << made.error();
    key_ = made.value();
    certificate_ = SelfSigned::build(keys_, key_, kName, kNotBefore, kNotAfter, kSerial);
    folder_ = std::filesystem::temp_directory_path() /
              ("lumenvale-cert-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(folder_);
    file_ = (folder_ / "identity.der").string();
    std::ofstream(file_, std::ios::binary) << certificate_;
  }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  testing::FaultyKeys keys_;
  Key key_;
  std::string certificate_;
  std::filesystem::path folder_;
  std::string file_;
};

TEST_F(SelfSignedTest, OpenSslReadsTheFieldsWeWrote) {
  const auto read = testing::readCertificate(certificate_);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(read->version, 3);
  EXPECT_EQ(read->signatureNid, NID_ecdsa_with_SHA256);
  EXPECT_EQ(read->tbsSignatureNid, NID_ecdsa_with_SHA256);
  EXPECT_EQ(read->issuer, read->subject);
  EXPECT_EQ(read->subjectEntries, 1);
  EXPECT_EQ(read->commonName, kName);
  EXPECT_EQ(read->extensions, 0);
  EXPECT_EQ(Bytes::hex(read->serial), Bytes::hex(kSerial.substr(1)));
  EXPECT_EQ(read->notBefore, system_clock::to_time_t(kNotBefore));
  EXPECT_EQ(read->notAfter, system_clock::to_time_t(kNotAfter));
  EXPECT_TRUE(read->verifiesWithOwnKey);
}

TEST_F(SelfSignedTest, PublicKeyInfoMatchesOpenSslsEncoding) {
  const Key publicKey = keys_.copyPublicKey(key_);
  ASSERT_NE(publicKey, nullptr);
  const std::string info = SelfSigned::publicKeyInfo(keys_, publicKey);

  KeyResult<std::string> pem = keys_.privateKeyPem(key_);
  ASSERT_TRUE(pem) << pem.error();
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.value().data(), static_cast<int>(pem.value().size())),
                                                BIO_free);
  ASSERT_NE(bio, nullptr);
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
  ASSERT_NE(pkey, nullptr);
  unsigned char* reference = nullptr;
  const int length = i2d_PUBKEY(pkey.get(), &reference);
  ASSERT_GT(length, 0);
  const std::string expected(reinterpret_cast<char*>(reference), static_cast<std::size_t>(length));
  OPENSSL_free(reference);

  EXPECT_EQ(Bytes::hex(info), Bytes::hex(expected));
  // The same bytes sit in the certificate, so the key it names is ours.
  EXPECT_NE(certificate_.find(info), std::string::npos);
}

TEST_F(SelfSignedTest, OpenSslCommandLineShowsAPlainV3Certificate) {
  if (run("command -v openssl >/dev/null 2>&1").status != 0) GTEST_SKIP() << "openssl is not installed";
  const CommandRun shown = run("openssl x509 -inform der -in '" + file_ + "' -text -noout 2>&1");
  ASSERT_EQ(shown.status, 0) << shown.output;
  EXPECT_NE(shown.output.find("Version: 3 (0x2)"), std::string::npos) << shown.output;
  // Once in the to-be-signed body and once beside the signature.
  EXPECT_EQ(occurrences(shown.output, "Signature Algorithm: ecdsa-with-SHA256"), 2u) << shown.output;
  EXPECT_NE(shown.output.find("Issuer: CN = " + std::string(kName) + "\n"), std::string::npos) << shown.output;
  EXPECT_NE(shown.output.find("Subject: CN = " + std::string(kName) + "\n"), std::string::npos) << shown.output;
  EXPECT_NE(shown.output.find("ASN1 OID: prime256v1"), std::string::npos) << shown.output;
  EXPECT_NE(shown.output.find("Not Before: Mar  7 09:05:02 2026 GMT"), std::string::npos) << shown.output;
  EXPECT_EQ(shown.output.find("X509v3 extensions"), std::string::npos) << shown.output;
}

TEST_F(SelfSignedTest, PythonCryptographyVerifiesTheSignature) {
  if (::access("/usr/bin/python3", X_OK) != 0 ||
      run("/usr/bin/python3 -c 'import cryptography' 2>/dev/null").status != 0) {
    GTEST_SKIP() << "/usr/bin/python3 with cryptography is not installed";
  }
  const std::string script = (folder_ / "read.py").string();
  std::ofstream(script) << R"(import sys
from cryptography import x509
from cryptography.hazmat.primitives.asymmetric import ec
cert = x509.load_der_x509_certificate(open(sys.argv[1], "rb").read())
print("version=" + cert.version.name)
print("signature=" + cert.signature_algorithm_oid.dotted_string)
print("hash=" + cert.signature_hash_algorithm.name)
print("issuer=" + cert.issuer.rfc4514_string())
print("subject=" + cert.subject.rfc4514_string())
print("extensions=%d" % len(cert.extensions))
print("curve=" + cert.public_key().curve.name)
print("serial=%x" % cert.serial_number)
print("notAfter=" + cert.not_valid_after.isoformat())
try:
    cert.public_key().verify(cert.signature, cert.tbs_certificate_bytes, ec.ECDSA(cert.signature_hash_algorithm))
    print("verified=yes")
except Exception as error:
    print("verified=no " + repr(error))
)";
  const CommandRun shown = run("/usr/bin/python3 '" + script + "' '" + file_ + "' 2>&1");
  ASSERT_EQ(shown.status, 0) << shown.output;
  const auto values = fields(shown.output);
  EXPECT_EQ(values.at("version"), "v3");
  EXPECT_EQ(values.at("signature"), "1.2.840.10045.4.3.2");
  EXPECT_EQ(values.at("hash"), "sha256");
  EXPECT_EQ(values.at("issuer"), "CN=" + std::string(kName));
  EXPECT_EQ(values.at("subject"), values.at("issuer"));
  EXPECT_EQ(values.at("extensions"), "0");
  EXPECT_EQ(values.at("curve"), "secp256r1");
  EXPECT_EQ(values.at("serial"), Bytes::hex(kSerial.substr(1)));
  EXPECT_EQ(values.at("notAfter"), "2036-03-04T09:05:02");
  EXPECT_EQ(values.at("verified"), "yes");
}

TEST_F(SelfSignedTest, KeyServiceFailuresBecomeFailures) {
  struct Case {
    const char* name;
    void (*breakKeys)(testing::FaultyKeys&);
    const char* description;
  };
  for (const Case& c : {
           Case{"no public half", [](testing::FaultyKeys& k) { k.noPublicHalf = true; },
                "the key has no public half"},
           Case{"export", [](testing::FaultyKeys& k) { k.exportError = "the point is gone"; },
                "the public key cannot be exported: the point is gone"},
           Case{"sign", [](testing::FaultyKeys& k) { k.signError = "the token was removed"; },
                "signing failed: the token was removed"},
       }) {
    SCOPED_TRACE(c.name);
    keys_.heal();
    c.breakKeys(keys_);
    try {
      SelfSigned::build(keys_, key_, kName, kNotBefore, kNotAfter, kSerial);
      ADD_FAILURE() << "built a certificate";
    } catch (const SelfSigned::Failure& failure) {
      EXPECT_EQ(failure.description, c.description);
      EXPECT_STREQ(failure.what(), c.description);
    }
  }
}

}  // namespace
}  // namespace lumenvale
