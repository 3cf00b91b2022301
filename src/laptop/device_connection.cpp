#include "laptop/device_connection.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <mutex>

#include "util/bytes.h"
#include "util/crypto.h"
#include "util/text.h"

namespace lumenvale::laptop {

struct DeviceConnection::Pin {
  std::optional<std::string> expected;
  std::string seen;
};

namespace {

void initialiseCurl() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// checkLeaf replaces the chain check: the device's certificate is its own
// self-signed one, trusted by its fingerprint alone.
int checkLeaf(X509_STORE_CTX* store, void* argument) {
  auto* pin = static_cast<DeviceConnection::Pin*>(argument);
  X509* leaf = X509_STORE_CTX_get0_cert(store);
  if (leaf == nullptr) return 0;
  unsigned char* der = nullptr;
  const int length = i2d_X509(leaf, &der);
  if (length <= 0) return 0;
  pin->seen = Bytes::hex(
      Crypto::sha256(std::string_view(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length))));
  OPENSSL_free(der);
  if (!pin->expected) return 1;
  if (Bytes::equal(pin->seen, *pin->expected)) return 1;
  X509_STORE_CTX_set_error(store, X509_V_ERR_CERT_REJECTED);
  return 0;
}

CURLcode prepareTls(CURL*, void* context, void* argument) {
  SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context), checkLeaf, argument);
  return CURLE_OK;
}

struct Transfer {
  CURL* curl = nullptr;
  Response response;
  const DeviceConnection::Head* head = nullptr;
  const DeviceConnection::Body* body = nullptr;
  bool headTold = false;
  bool stopped = false;
};

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* argument) {
  auto* transfer = static_cast<Transfer*>(argument);
  const std::string line(data, size * count);
  if (line.starts_with("HTTP/")) {
    // A new response (after a redirect or 100 Continue): start afresh.
    transfer->response.headers.clear();
  } else if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
    const std::string name = Text::asciiLower(line.substr(0, colon));
    std::string value = line.substr(colon + 1);
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    value.erase(value.begin(), std::find_if_not(value.begin(), value.end(), space));
    value.erase(std::find_if_not(value.rbegin(), value.rend(), space).base(), value.end());
    transfer->response.headers[name] = value;
  }
  return size * count;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* argument) {
  auto* transfer = static_cast<Transfer*>(argument);
  const std::string_view piece(data, size * count);
  if (transfer->body == nullptr) {
    transfer->response.body.append(piece);
    return piece.size();
  }
  if (!transfer->headTold) {
    transfer->headTold = true;
    long status = 0;
    curl_easy_getinfo(transfer->curl, CURLINFO_RESPONSE_CODE, &status);
    transfer->response.status = static_cast<int>(status);
    if (transfer->head != nullptr && !(*transfer->head)(transfer->response)) {
      transfer->stopped = true;
      return 0;
    }
  }
  if (!(*transfer->body)(piece)) {
    transfer->stopped = true;
    return 0;
  }
  return piece.size();
}

// urlHost writes a host for a URL: an IPv6 address in brackets, its zone
// ("fe80::1%wlan0", which a link-local address needs) as %25.
std::string urlHost(const std::string& host) {
  if (host.find(':') == std::string::npos) return host;
  std::string address = host;
  const std::size_t zone = address.find('%');
  if (zone != std::string::npos) address.replace(zone, 1, "%25");
  return "[" + address + "]";
}

}  // namespace

std::optional<std::string> Response::header(const std::string& name) const {
  const auto found = headers.find(name);
  if (found == headers.end()) return std::nullopt;
  return found->second;
}

nlohmann::json Response::json() const { return nlohmann::json::parse(body, nullptr, false); }

DeviceConnection::DeviceConnection(std::string host, std::uint16_t port, std::optional<std::string> pinned,
                                   std::string token)
    : base_("https://" + urlHost(host) + ":" + std::to_string(port)),
      token_(std::move(token)),
      pin_(std::make_unique<Pin>(Pin{std::move(pinned), {}})) {
  initialiseCurl();
  curl_ = curl_easy_init();
  if (curl_ == nullptr) throw ConnectionError("libcurl could not be set up.");
}

DeviceConnection::~DeviceConnection() { curl_easy_cleanup(curl_); }

const std::string& DeviceConnection::seenFingerprint() const { return pin_->seen; }

Response DeviceConnection::get(const std::string& path) { return perform(path, nullptr, 0, nullptr, nullptr); }

Response DeviceConnection::post(const std::string& path, const nlohmann::json& body) {
  const std::string text = body.dump();
  return perform(path, &text, 0, nullptr, nullptr);
}

Response DeviceConnection::stream(const std::string& path, std::int64_t from, const Head& head, const Body& body) {
  return perform(path, nullptr, from, &head, &body);
}

Response DeviceConnection::perform(const std::string& path, const std::string* postBody, std::int64_t from,
                                   const Head* head, const Body* body) {
  curl_easy_reset(curl_);
  Transfer transfer;
  transfer.curl = curl_;
  transfer.head = head;
  transfer.body = body;
  const std::string url = base_ + path;
  curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl_, CURLOPT_SSLVERSION, CURL_SSLVERSION_TLSv1_2);
  // The certificate is checked by its fingerprint in prepareTls, before any
  // request byte is sent; its name is the device's own, not the host's.
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(curl_, CURLOPT_SSL_SESSIONID_CACHE, 0L);
  curl_easy_setopt(curl_, CURLOPT_SSL_CTX_FUNCTION, prepareTls);
  curl_easy_setopt(curl_, CURLOPT_SSL_CTX_DATA, pin_.get());
  curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(connectTimeout_.count()));
  // A device that stops sending for a minute is gone; a delete waiting for
  // its owner answers within two minutes.
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl_, CURLOPT_LOW_SPEED_TIME, 150L);
  curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, onHeader);
  curl_easy_setopt(curl_, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, onBody);
  curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &transfer);
  curl_slist* headers = nullptr;
  if (!token_.empty()) headers = curl_slist_append(headers, ("Authorization: Bearer " + token_).c_str());
  if (from > 0) headers = curl_slist_append(headers, ("Range: bytes=" + std::to_string(from) + "-").c_str());
  if (postBody != nullptr) {
    headers = curl_slist_append(headers, "Content-Type: application/json");
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, postBody->c_str());
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, static_cast<long>(postBody->size()));
  }
  curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers);
  const CURLcode result = curl_easy_perform(curl_);
  curl_slist_free_all(headers);
  long status = 0;
  curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &status);
  transfer.response.status = static_cast<int>(status);
  if (result != CURLE_OK && !(transfer.stopped && result == CURLE_WRITE_ERROR)) {
    if (pin_->expected && !pin_->seen.empty() && !Bytes::equal(pin_->seen, *pin_->expected)) {
      throw CertificateMismatch("The device at " + base_ + " shows another certificate (" + pin_->seen.substr(0, 16) +
                                "...) than the one paired with (" + pin_->expected->substr(0, 16) +
                                "...). Nothing was sent. Pair again only if the device was reset.");
    }
    throw ConnectionError("Cannot talk with the device at " + base_ + ": " + curl_easy_strerror(result) + ".");
  }
  // A streamed body that was empty still tells its head.
  if (body != nullptr && !transfer.headTold && head != nullptr && result == CURLE_OK) (*head)(transfer.response);
  return transfer.response;
}

std::string errorText(const Response& response) {
  const nlohmann::json body = response.json();
  const std::string code = body.is_object() ? body.value("error", "") : "";
  const std::string message = body.is_object() ? body.value("message", "") : "";
  const std::string said = message.empty() ? "The device answered " + std::to_string(response.status) + "." : message;
  if (code == "unauthorized")
    return said + " This laptop is not paired with the device (any more): run `lumenvale-laptop pair HOST`.";
  if (code == "locked") {
    return said + " Try again in " + response.header("retry-after").value_or("60") + " seconds.";
  }
  if (code == "bad_code") return said + " Type the code the device shows now.";
  if (code == "delete_off") return said + " Turn it on on the device: `lumenvale settings set allowDelete true`.";
  if (code == "busy") return said + " Try again once that one is answered.";
  if (code == "cancelled") return said;
  return said;
}

}  // namespace lumenvale::laptop
