// Measures the running device against the peers a user would otherwise use,
// side by side in one run, and prints one Markdown table: download
// throughput against nginx serving the same file over the same TLS cipher,
// the device's memory while it serves, the checksum endpoint against
// `openssl dgst -sha256`, and thumbnails against `vipsthumbnail`.
// bench/compare starts both servers and passes their ports; this program
// only speaks to 127.0.0.1. Every loop is bounded in count, every socket and
// child process in time.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "arguments.h"
#include "support/pairing_recipe.h"
#include "support/tls_client.h"
#include "util/bytes.h"
#include "util/crypto.h"

namespace {

using Clock = std::chrono::steady_clock;
using lumenvale::testing::HttpResponse;
using lumenvale::testing::TlsClient;

// Both servers are held to one TLS 1.3 suite so that the comparison is of
// the servers, not of their ciphers: the one the device prefers.
constexpr const char* kCipherSuite = "TLS_AES_128_GCM_SHA256";
constexpr int kParallel = 8;
constexpr int kDownloadRounds = 5;  // per server and connection count
constexpr int kDigestRounds = 3;
// A stalled server ends the bench rather than hanging it.
constexpr int kSocketTimeoutSeconds = 60;
constexpr auto kChildTimeout = std::chrono::seconds(300);
constexpr auto kRssInterval = std::chrono::milliseconds(50);
constexpr std::size_t kReadBuffer = 256 * 1024;
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
constexpr double kMiB = 1024.0 * 1024.0;

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "download_bench: %s\n", why.c_str());
  std::exit(1);
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

std::string fixed(double value, int digits = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

// One TLS connection that reads response bodies as a stream and throws them
// away (or digests them), so that a 1 GiB body costs no memory. Used from one
// thread.
class Downloader {
 public:
  struct Result {
    int status = 0;
    std::uint64_t bodyBytes = 0;
    bool chunked = false;
  };

  static std::unique_ptr<Downloader> connect(SSL_CTX* context, std::uint16_t port) {
    auto downloader = std::unique_ptr<Downloader>(new Downloader());
    downloader->fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (downloader->fd_ < 0) return nullptr;
    timeval limit{kSocketTimeoutSeconds, 0};
    ::setsockopt(downloader->fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(downloader->fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (::connect(downloader->fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return nullptr;
    downloader->ssl_ = SSL_new(context);
    if (downloader->ssl_ == nullptr) return nullptr;
    SSL_set_fd(downloader->ssl_, downloader->fd_);
    if (SSL_connect(downloader->ssl_) != 1) return nullptr;
    return downloader;
  }

  ~Downloader() {
    if (ssl_ != nullptr) SSL_free(ssl_);
    if (fd_ >= 0) ::close(fd_);
  }

  // negotiated names the protocol, suite and key exchange group in use.
  std::string negotiated() const {
    const char* group = SSL_group_to_name(ssl_, SSL_get_negotiated_group(ssl_));
    return std::string(SSL_get_version(ssl_)) + " " + SSL_CIPHER_get_name(SSL_get_current_cipher(ssl_)) + " " +
           (group != nullptr ? group : "?");
  }

  // get sends one GET and reads its answer to the end, body discarded or fed
  // to `digest`. Nothing when the connection fails or the framing is broken.
  std::optional<Result> get(const std::string& target, const std::string& extraHeaders,
                            lumenvale::Crypto::Sha256* digest = nullptr) {
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
    if (SSL_write(ssl_, request.data(), static_cast<int>(request.size())) != static_cast<int>(request.size())) {
      return std::nullopt;
    }
    const std::optional<std::string> head = line("\r\n\r\n", kMaxHeadBytes);
    if (!head || head->size() < 12) return std::nullopt;
    Result result;
    result.status = std::atoi(head->c_str() + 9);
    std::string lower = *head;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    result.chunked = lower.find("\r\ntransfer-encoding: chunked") != std::string::npos;
    if (!result.chunked) {
      const std::size_t at = lower.find("\r\ncontent-length: ");
      if (at == std::string::npos) return std::nullopt;
      const std::uint64_t length = std::stoull(lower.substr(at + 18));
      if (!consume(length, digest)) return std::nullopt;
      result.bodyBytes = length;
      return result;
    }
    // A chunk-size line is a few hex digits; 1 KiB is far past any real one.
    for (;;) {
      const std::optional<std::string> sizeLine = line("\r\n", 1024);
      if (!sizeLine) return std::nullopt;
      const std::uint64_t size = std::stoull(*sizeLine, nullptr, 16);
      if (size == 0) break;
      if (!consume(size, digest)) return std::nullopt;
      result.bodyBytes += size;
      const std::optional<std::string> end = line("\r\n", 2);
      if (!end || !end->empty()) return std::nullopt;
    }
    // Trailers, if any, up to the empty line.
    for (int i = 0; i < 64; ++i) {
      const std::optional<std::string> trailer = line("\r\n", 1024);
      if (!trailer) return std::nullopt;
      if (trailer->empty()) return result;
    }
    return std::nullopt;
  }

 private:
  Downloader() : buffer_(kReadBuffer) {}

  // fill reads what the connection has into the free end of the buffer.
  bool fill() {
    if (begin_ == end_) begin_ = end_ = 0;
    if (end_ == buffer_.size()) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    const int got = SSL_read(ssl_, buffer_.data() + end_, static_cast<int>(buffer_.size() - end_));
    if (got <= 0) return false;
    end_ += static_cast<std::size_t>(got);
    return true;
  }

  // line returns the bytes before the next `delimiter`, which it consumes.
  std::optional<std::string> line(std::string_view delimiter, std::size_t limit) {
    std::size_t from = 0;  // from the unread start; fill() keeps unread bytes in order
    for (;;) {
      const std::string_view held(buffer_.data() + begin_, end_ - begin_);
      const std::size_t at = held.find(delimiter, from);
      if (at != std::string_view::npos) {
        std::string text(held.substr(0, at));
        begin_ += at + delimiter.size();
        return text;
      }
      if (held.size() > limit + delimiter.size()) return std::nullopt;
      from = held.size() >= delimiter.size() ? held.size() - delimiter.size() + 1 : 0;
      if (!fill()) return std::nullopt;
    }
  }

  bool consume(std::uint64_t count, lumenvale::Crypto::Sha256* digest) {
    while (count > 0) {
      if (begin_ == end_ && !fill()) return false;
      const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(count, end_ - begin_));
      if (digest != nullptr) digest->update(std::string_view(buffer_.data() + begin_, take));
      begin_ += take;
      count -= take;
    }
    return true;
  }

  int fd_ = -1;
  SSL* ssl_ = nullptr;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// settle gives a server time to see the last round's connections close,
// outside any timing, so that each round starts with all its slots free.
void settle() { std::this_thread::sleep_for(std::chrono::milliseconds(300)); }

struct Server {
  std::string name;
  std::uint16_t port = 0;
  std::string target;   // the 1 GiB file's path
  std::string headers;  // e.g. the device's Authorization
};

SSL_CTX* clientContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) fail("SSL_CTX_new failed");
  // Both certificates are self-signed; the device's is pinned separately.
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  if (SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1) fail("cannot require TLS 1.3");
  if (SSL_CTX_set_ciphersuites(context, kCipherSuite) != 1) fail("cannot choose the cipher suite");
  return context;
}

// download fetches the whole file over a fresh connection (handshake
// included in the time) and returns its body size, or fails the bench.
std::uint64_t download(SSL_CTX* context, const Server& server, std::uint64_t expected,
                       lumenvale::Crypto::Sha256* digest = nullptr) {
  std::unique_ptr<Downloader> downloader = Downloader::connect(context, server.port);
  if (!downloader) fail(server.name + ": cannot connect");
  const std::optional<Downloader::Result> result = downloader->get(server.target, server.headers, digest);
  if (!result) fail(server.name + ": the download broke off");
  if (result->status != 200 || result->bodyBytes != expected) {
    fail(server.name + ": status " + std::to_string(result->status) + ", " + std::to_string(result->bodyBytes) +
         " bytes of " + std::to_string(expected));
  }
  return result->bodyBytes;
}

// parallelRate runs `connections` whole downloads at once and returns MiB/s
// over all of them, wall clock.
double parallelRate(SSL_CTX* context, const Server& server, std::uint64_t size, int connections) {
  std::vector<std::thread> threads;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < connections; ++i) threads.emplace_back([&] { download(context, server, size); });
  for (std::thread& thread : threads) thread.join();
  return static_cast<double>(size) * connections / kMiB / seconds(Clock::now() - start);
}

// rssKiB returns VmRSS of `pid`, and of its children when `withChildren`
// (nginx serves from worker processes).
std::uint64_t rssKiB(pid_t pid, bool withChildren) {
  std::uint64_t total = 0;
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) total += std::stoull(line.substr(6));
  }
  if (withChildren) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    for (pid_t child; children >> child;) total += rssKiB(child, false);
  }
  return total;
}

// cpuSeconds returns the processor time (user and system) `pid` has used,
// and its children's when `withChildren` (nginx's workers). Threads that
// have ended are counted: the kernel folds them into the process.
double cpuSeconds(pid_t pid, bool withChildren) {
  double total = 0;
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(stat, line);
  // The fields after the name, which is in parentheses and may hold spaces:
  // state is field 3, utime 14 and stime 15.
  const std::size_t close = line.rfind(')');
  if (close != std::string::npos) {
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    std::uint64_t ticks = 0;
    for (int number = 3; number <= 15 && fields >> field; ++number) {
      if (number >= 14) ticks += std::stoull(field);
    }
    total += static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
  }
  if (withChildren) {
    std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
    for (pid_t child; children >> child;) total += cpuSeconds(child, false);
  }
  return total;
}

// RssPeak samples a process's resident memory every 50 ms on its own thread
// until stopped, keeping the highest sample.
class RssPeak {
 public:
  RssPeak(pid_t pid, bool withChildren)
      : thread_([this, pid, withChildren] {
          while (!stop_) {
            peak_ = std::max<std::uint64_t>(peak_, rssKiB(pid, withChildren));
            std::this_thread::sleep_for(kRssInterval);
          }
        }) {}
  ~RssPeak() { stop(); }
  std::uint64_t stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    return peak_;
  }

 private:
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> peak_{0};
  std::thread thread_;
};

// jpegSize returns "WxH" from a JPEG's start-of-frame marker, or "?".
std::string jpegSize(std::string_view jpeg) {
  for (std::size_t at = 2; at + 9 < jpeg.size();) {
    if (static_cast<unsigned char>(jpeg[at]) != 0xFF) return "?";
    const unsigned marker = static_cast<unsigned char>(jpeg[at + 1]);
    const auto word = [&](std::size_t i) {
      return static_cast<unsigned>(static_cast<unsigned char>(jpeg[i])) << 8 | static_cast<unsigned char>(jpeg[i + 1]);
    };
    if (marker >= 0xC0 && marker <= 0xC2) return std::to_string(word(at + 7)) + "x" + std::to_string(word(at + 5));
    at += 2 + word(at + 2);
  }
  return "?";
}

struct Ran {
  int status = -1;
  std::string out;
  double seconds = 0;
};

// run starts a program (no shell), collects its standard output and waits
// for it, killing it past the time-out.
Ran run(const std::vector<std::string>& arguments) {
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) fail("pipe failed");
  // Made before the fork: the child of a threaded process allocates nothing.
  std::vector<std::string> words = arguments;
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const Clock::time_point start = Clock::now();
  const pid_t child = ::fork();
  if (child < 0) fail("fork failed");
  if (child == 0) {
    ::dup2(pipeFds[1], 1);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  Ran ran;
  char piece[4096];
  for (ssize_t got; (got = ::read(pipeFds[0], piece, sizeof piece)) > 0;) ran.out.append(piece, got);
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() - start > kChildTimeout) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      fail(arguments[0] + " ran past its time-out");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ran.seconds = seconds(Clock::now() - start);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}

struct Options {
  std::uint16_t devicePort = 0;
  std::string fingerprint;
  std::string code;
  pid_t devicePid = 0;
  std::uint16_t nginxPort = 0;
  pid_t nginxPid = 0;
  std::string photos;    // the photo folder both servers read
  std::string movie;     // file name of the 1 GiB file in it
  std::string thumbOut;  // where vipsthumbnail may write
  bool downloadsOnly = false;  // --parts downloads: skip the checksum and thumbnails
};

Options parse(int argc, char** argv) {
  Options options;
  const lumenvale::bench::Arguments arguments(argc, argv);
  const auto need = [&](const std::string& name) { return arguments.need(name); };
  const auto device = lumenvale::bench::DeviceUnderTest::from(arguments);
  options.devicePort = device.port;
  options.fingerprint = device.fingerprint;
  options.code = device.code;
  options.devicePid = device.pid;
  options.nginxPort = static_cast<std::uint16_t>(std::stoi(need("--nginx-port")));
  options.nginxPid = std::stoi(need("--nginx-pid"));
  options.photos = need("--photos");
  options.movie = need("--movie");
  options.thumbOut = need("--thumb-out");
  const std::string parts = arguments.value("--parts", "all");
  if (parts != "all" && parts != "downloads") fail("--parts is all or downloads");
  options.downloadsOnly = parts == "downloads";
  return options;
}

struct Row {
  std::string measure;
  std::string ours;
  std::string peer;
  std::string ratio;
  std::string target;
};

void printTable(const std::string& tls, const std::vector<Row>& rows) {
  std::printf("\nAll on 127.0.0.1, TLS: %s, %u CPUs.\n\n", tls.c_str(), std::thread::hardware_concurrency());
  std::printf("| Measure | Lumenvale | Peer | Ratio | Target |\n|---|---:|---:|---:|---|\n");
  for (const Row& row : rows) {
    std::printf("| %s | %s | %s | %s | %s |\n", row.measure.c_str(), row.ours.c_str(), row.peer.c_str(),
                row.ratio.c_str(), row.target.c_str());
  }
}

// The bench as a paired laptop: its one control connection to the device.
class Laptop {
 public:
  // pair connects with the device's certificate pinned and pairs with the
  // code on screen, checking the device's proof.
  static Laptop pair(const Options& options) {
    Laptop laptop;
    laptop.connect(options);
    const std::string laptopId = "bench-laptop";
    const std::string symbols = lumenvale::testing::symbolsOf(options.code);
    const nlohmann::json body = {{"laptopId", laptopId},
                                 {"laptopName", "Bench Laptop"},
                                 {"proof", lumenvale::testing::laptopProof(symbols, options.fingerprint, laptopId)}};
    const HttpResponse paired = laptop.ask("POST", "/v1/pair", body.dump());
    if (paired.status != 200) fail("pairing answered " + std::to_string(paired.status) + ": " + paired.body);
    const nlohmann::json pairing = nlohmann::json::parse(paired.body);
    const std::string token = pairing.value("token", "");
    if (pairing.value("proof", "") != lumenvale::testing::phoneProof(symbols, options.fingerprint, laptopId, token)) {
      fail("the device's pairing proof does not check out");
    }
    laptop.authorization_ = "Authorization: Bearer " + token + "\r\n";
    return laptop;
  }

  // connect opens the control connection (again).
  void connect(const Options& options) {
    control_ = TlsClient::connect(options.devicePort, options.fingerprint, std::chrono::seconds(kSocketTimeoutSeconds));
    if (!control_) fail("cannot connect to the device with its fingerprint pinned");
  }

  // hangUp closes the control connection: the device serves eight at most.
  void hangUp() { control_.reset(); }

  // ask sends one request, with the token once paired, and returns its answer.
  HttpResponse ask(const std::string& method, const std::string& target,
                   const std::optional<std::string>& body = std::nullopt) {
    if (!control_->request(method, target, authorization_, body)) fail(method + " " + target + ": cannot send");
    std::optional<HttpResponse> response = control_->response();
    if (!response) fail(method + " " + target + ": no answer");
    return *response;
  }

  const std::string& authorization() const { return authorization_; }

 private:
  std::unique_ptr<TlsClient> control_;
  std::string authorization_;
};

// What the bench needs of the listing: the large file's address, and the
// pictures' asset ids and names in name order.
struct Listed {
  std::string movieTarget;
  std::vector<std::pair<std::string, std::string>> pictures;
};

Listed list(Laptop& laptop, const Options& options) {
  Listed listed;
  std::string target = "/v1/assets?limit=500";
  for (int pages = 0; pages < 100; ++pages) {
    const HttpResponse answer = laptop.ask("GET", target);
    if (answer.status != 200) fail("listing answered " + std::to_string(answer.status));
    const nlohmann::json page = nlohmann::json::parse(answer.body);
    for (const nlohmann::json& asset : page["assets"]) {
      for (const nlohmann::json& resource : asset["resources"]) {
        const std::string name = resource["name"];
        if (name == options.movie) {
          listed.movieTarget =
              "/v1/assets/" + asset["id"].get<std::string>() + "/res/" + resource["rid"].get<std::string>();
        } else if (name.ends_with(".JPG")) {
          listed.pictures.emplace_back(asset["id"], name);
        }
      }
    }
    if (page["next"].is_null()) break;
    target = "/v1/assets?limit=500&after=" + page["next"].get<std::string>();
  }
  if (listed.movieTarget.empty()) fail(options.movie + " is not in the device's listing");
  if (listed.pictures.empty()) fail("no pictures in the device's listing");
  std::sort(listed.pictures.begin(), listed.pictures.end(),
            [](const auto& a, const auto& b) { return a.second < b.second; });
  return listed;
}

// agreedTls prints what each server chooses for a client that offers
// everything, and returns the protocol, suite and group both speak with the
// bench's client, which must be the same.
std::string agreedTls(const Server& device, const Server& nginx, SSL_CTX* context) {
  const auto negotiated = [](const Server& server, SSL_CTX* with) {
    std::unique_ptr<Downloader> probe = Downloader::connect(with, server.port);
    if (!probe) fail(server.name + ": cannot connect");
    return probe->negotiated();
  };
  SSL_CTX* open = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_verify(open, SSL_VERIFY_NONE, nullptr);
  std::printf("lumenvale negotiates with an unconstrained client: %s\n", negotiated(device, open).c_str());
  std::printf("nginx negotiates with an unconstrained client:     %s\n", negotiated(nginx, open).c_str());
  SSL_CTX_free(open);
  const std::string deviceTls = negotiated(device, context);
  const std::string nginxTls = negotiated(nginx, context);
  std::printf("bench client, lumenvale: %s\nbench client, nginx:     %s\n", deviceTls.c_str(), nginxTls.c_str());
  std::fflush(stdout);
  if (deviceTls != nginxTls) fail("the two servers negotiated differently");
  return deviceTls;
}

// The file both servers serve, and its digest by openssl.
struct Movie {
  std::string path;
  std::uint64_t size = 0;
  std::string sha256;
};

// compareDownloads downloads the file from each server, one connection
// then eight at once, the servers taking turns, and adds the rows for
// throughput, processor time per GiB and the device's memory. Each round
// reads the server's processor time before and after: on a phone that time
// per gigabyte is battery.
void compareDownloads(const Options& options, SSL_CTX* context, const Server& device, const Server& nginx,
                      const Movie& movie, std::uint64_t deviceIdle, std::vector<Row>& rows) {
  // One untimed download from each, digested, shows both send the file
  // exactly (and leaves both reading a warm page cache).
  for (const Server* server : {&device, &nginx}) {
    lumenvale::Crypto::Sha256 digest;
    download(context, *server, movie.size, &digest);
    if (lumenvale::Bytes::hex(digest.finish()) != movie.sha256) fail(server->name + " sent different bytes");
  }

  const auto pidOf = [&](const Server& server) { return &server == &device ? options.devicePid : options.nginxPid; };
  const auto cpuOf = [&](const Server& server) { return cpuSeconds(pidOf(server), &server != &device); };
  using Figures = std::map<std::string, std::vector<double>>;  // by server name
  Figures one, eight, cpuOne, cpuEight;
  const auto timed = [&](const Server& server, int connections, Figures& rates, Figures& cpu) {
    const double cpuBefore = cpuOf(server);
    rates[server.name].push_back(parallelRate(context, server, movie.size, connections));
    const double gib = static_cast<double>(movie.size) * connections / (1024.0 * kMiB);
    cpu[server.name].push_back((cpuOf(server) - cpuBefore) / gib);
    std::fprintf(stderr, "%s, %d connection%s: %.0f MiB/s, %.2f CPU-s per GiB\n", server.name.c_str(), connections,
                 connections == 1 ? "" : "s", rates[server.name].back(), cpu[server.name].back());
  };
  for (int turn = 0; turn < kDownloadRounds; ++turn) {
    for (const Server* server : {&device, &nginx}) {
      settle();
      timed(*server, 1, one, cpuOne);
    }
  }
  const std::uint64_t deviceBefore = rssKiB(options.devicePid, false);
  const std::uint64_t nginxBefore = rssKiB(options.nginxPid, true);
  std::uint64_t devicePeak = 0;
  std::uint64_t nginxPeak = 0;
  for (int turn = 0; turn < kDownloadRounds; ++turn) {
    for (const Server* server : {&device, &nginx}) {
      const bool isDevice = server == &device;
      settle();
      RssPeak sampler(pidOf(*server), !isDevice);
      timed(*server, kParallel, eight, cpuEight);
      (isDevice ? devicePeak : nginxPeak) = std::max(isDevice ? devicePeak : nginxPeak, sampler.stop());
    }
  }

  const std::string rounds = std::to_string(kDownloadRounds);
  for (const auto& [connections, rates] : {std::pair{1, &one}, std::pair{kParallel, &eight}}) {
    const double ours = median((*rates)["lumenvale"]), peer = median((*rates)["nginx"]);
    rows.push_back({"Download 1 GiB, " + std::to_string(connections) +
                        (connections == 1 ? " connection (MiB/s" : " connections (MiB/s total") + ", median of " +
                        rounds + ")",
                    fixed(ours, 0), fixed(peer, 0) + " (nginx)", fixed(ours / peer, 2) + "x",
                    ours / peer >= 1.2 ? ">= 1.2x: met" : ">= 1.2x: MISSED"});
  }
  for (const auto& [connections, cpu] : {std::pair{1, &cpuOne}, std::pair{kParallel, &cpuEight}}) {
    const double ours = median((*cpu)["lumenvale"]), peer = median((*cpu)["nginx"]);
    rows.push_back({"Server CPU per GiB sent, " + std::to_string(connections) + " connection" +
                        (connections == 1 ? "" : "s") + " (s, user + system, median of " + rounds + ")",
                    fixed(ours, 2), fixed(peer, 2) + " (nginx)", fixed(ours / peer, 2) + "x",
                    ours <= 0.5 ? "<= 0.5 s: met" : "<= 0.5 s: MISSED"});
  }
  const double addedMiB = (static_cast<double>(devicePeak) - static_cast<double>(deviceBefore)) / 1024.0;
  rows.push_back({"Server RSS added during 8 parallel 1 GiB downloads (MiB; " + fixed(deviceIdle / 1024.0) +
                      " after pairing, " + fixed(deviceBefore / 1024.0) + " just before, " +
                      fixed(devicePeak / 1024.0) + " peak)",
                  fixed(addedMiB),
                  fixed((static_cast<double>(nginxPeak) - static_cast<double>(nginxBefore)) / 1024.0) +
                      " (nginx, master + workers; " + fixed(nginxPeak / 1024.0) + " peak)",
                  "", addedMiB < 64 ? "< 64 MiB: met" : "< 64 MiB: MISSED"});
}

// compareDigests asks the checksum endpoint and runs openssl, taking turns.
// The device reads and digests the file on every request (it keeps no
// digests), so each request costs what a laptop's first one does.
void compareDigests(Laptop& laptop, const std::string& movieTarget, const Movie& movie, std::vector<Row>& rows) {
  std::vector<double> endpointSeconds, dgstSeconds;
  for (int i = 0; i < kDigestRounds; ++i) {
    const Clock::time_point digestStart = Clock::now();
    const HttpResponse checksum = laptop.ask("GET", movieTarget + "/sha256");
    endpointSeconds.push_back(seconds(Clock::now() - digestStart));
    if (checksum.status != 200) fail("sha256 answered " + std::to_string(checksum.status));
    if (nlohmann::json::parse(checksum.body).value("sha256", "") != movie.sha256) {
      fail("sha256 answered a wrong digest");
    }
    const Ran ran = run({"openssl", "dgst", "-sha256", "-r", movie.path});
    if (ran.status != 0 || ran.out.substr(0, 64) != movie.sha256) fail("openssl dgst failed");
    dgstSeconds.push_back(ran.seconds);
    std::fprintf(stderr, "round %d, sha256: endpoint %.2f s, openssl dgst %.2f s\n", i + 1, endpointSeconds.back(),
                 ran.seconds);
  }
  const double digestOurs = median(endpointSeconds);
  const double digestRateOurs = movie.size / kMiB / digestOurs;
  const double digestRatePeer = movie.size / kMiB / median(dgstSeconds);
  rows.push_back({"SHA-256 of the 1 GiB file (MiB/s, median of " + std::to_string(kDigestRounds) + "; " +
                      fixed(digestOurs, 2) + " s vs " + fixed(median(dgstSeconds), 2) + " s)",
                  fixed(digestRateOurs, 0), fixed(digestRatePeer, 0) + " (openssl dgst -sha256)",
                  fixed(digestRateOurs / digestRatePeer, 2) + "x",
                  digestRateOurs / digestRatePeer >= 0.9 ? ">= 0.9x: met" : ">= 0.9x: MISSED"});
}

// compareThumbnails asks for each picture's thumbnail once through the
// endpoint, then has vipsthumbnail make each once, so neither side sees a
// picture twice.
void compareThumbnails(Laptop& laptop, const Options& options,
                       const std::vector<std::pair<std::string, std::string>>& pictures, std::vector<Row>& rows) {
  const int count = static_cast<int>(pictures.size());
  const Clock::time_point thumbStart = Clock::now();
  std::uint64_t thumbBytes = 0;
  std::string ourSize;
  for (const auto& [id, name] : pictures) {
    const HttpResponse thumb = laptop.ask("GET", "/v1/assets/" + id + "/thumb?px=256");
    if (thumb.status != 200 || !thumb.body.starts_with("\xFF\xD8")) {
      fail("thumbnail of " + name + " answered " + std::to_string(thumb.status));
    }
    thumbBytes += thumb.body.size();
    if (ourSize.empty()) ourSize = jpegSize(thumb.body);
  }
  const double thumbOurs = count / seconds(Clock::now() - thumbStart);
  const Clock::time_point vipsStart = Clock::now();
  for (const auto& [id, name] : pictures) {
    const Ran ran = run({"vipsthumbnail", "-s", "256", options.photos + "/" + name, "-o", options.thumbOut + "/%s.jpg"});
    if (ran.status != 0) fail("vipsthumbnail failed on " + name);
  }
  const double thumbPeer = count / seconds(Clock::now() - vipsStart);
  const std::string& first = pictures.front().second;
  std::ifstream peerFile(options.thumbOut + "/" + first.substr(0, first.size() - 4) + ".jpg");
  const std::string peerThumb((std::istreambuf_iterator<char>(peerFile)), std::istreambuf_iterator<char>());
  rows.push_back({"Thumbnail px=256 of a 12 MP JPEG, " + std::to_string(count) +
                      " different pictures one after another (per s; " + ourSize + " vs " + jpegSize(peerThumb) +
                      ", ours avg " + std::to_string(thumbBytes / count / 1024) + " KiB vs " +
                      std::to_string(peerThumb.size() / 1024) + " KiB)",
                  fixed(thumbOurs, 1), fixed(thumbPeer, 1) + " (vipsthumbnail -s 256)",
                  fixed(thumbOurs / thumbPeer, 2) + "x", thumbOurs / thumbPeer >= 1.0 ? ">= 1.0x: met" : ">= 1.0x: MISSED"});
}

}  // namespace

int main(int argc, char** argv) {
  ::signal(SIGPIPE, SIG_IGN);
  const Options options = parse(argc, argv);
  std::vector<Row> rows;

  Laptop laptop = Laptop::pair(options);
  const Listed listed = list(laptop, options);
  const std::uint64_t deviceIdle = rssKiB(options.devicePid, false);
  // The device serves eight connections at most; the downloads need all of
  // them, so the laptop's other connection goes first.
  laptop.hangUp();

  SSL_CTX* context = clientContext();
  const Server device{"lumenvale", options.devicePort, listed.movieTarget, laptop.authorization()};
  const Server nginx{"nginx", options.nginxPort, "/" + options.movie, ""};
  const std::string tls = agreedTls(device, nginx, context);

  // The reference digest; this also leaves the file in the page cache for
  // every server and tool below.
  Movie movie{options.photos + "/" + options.movie, 0, ""};
  const Ran first = run({"openssl", "dgst", "-sha256", "-r", movie.path});
  if (first.status != 0 || first.out.size() < 64) fail("openssl dgst failed");
  movie.sha256 = first.out.substr(0, 64);
  movie.size = std::filesystem::file_size(movie.path);
  std::fprintf(stderr, "%s: %llu bytes, sha256 %s\n", options.movie.c_str(),
               static_cast<unsigned long long>(movie.size), movie.sha256.c_str());

  compareDownloads(options, context, device, nginx, movie, deviceIdle, rows);
  SSL_CTX_free(context);
  if (!options.downloadsOnly) {
    settle();
    laptop.connect(options);
    compareDigests(laptop, listed.movieTarget, movie, rows);
    compareThumbnails(laptop, options, listed.pictures, rows);
  }
  printTable(tls, rows);
  return 0;
}
