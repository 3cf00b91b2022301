#include "hub/hub.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "util/bytes.h"
#include "util/text.h"

namespace lumenvale {
namespace {


// A random (version 4) UUID in upper case, as delete questions have always
// been named.
std::string newUuid() { return Text::asciiUpper(Bytes::newUuid()); }

class ServerListener : public Listener {
 public:
  explicit ServerListener(std::unique_ptr<Server> server) : server_(std::move(server)) {}
  void setOnPort(Server::PortCallback onPort) override { server_->setOnPort(std::move(onPort)); }
  void start() override { server_->start(); }

 private:
  std::unique_ptr<Server> server_;
};

}  // namespace

Hub::MakeListener Hub::serverListener(Advertiser* advertiser, Server::Options options) {
  return [advertiser, options](Server::Handler handler, const Identity& identity,
                               const std::string& name) -> std::unique_ptr<Listener> {
    return std::make_unique<ServerListener>(
        std::make_unique<Server>(std::move(handler), Server::Identity{identity.certificate(), identity.privateKeyPem()},
                                 name, identity.deviceId(), identity.fingerprint(), advertiser, options));
  };
}

std::shared_ptr<Hub> Hub::make(Platform platform) {
  std::shared_ptr<Hub> hub(new Hub(std::move(platform)));
  MutexLock hold(hub->alive_->mutex);
  hub->alive_->hub = hub.get();
  return hub;
}

Hub::Hub(Platform platform)
    : platform_(std::move(platform)),
      library_(*platform_.store, [this](double progress) { cloud(progress); }),
      alive_(std::make_shared<Alive>()) {
  if (platform_.settings != nullptr) {
    state_.allowDelete = platform_.settings->allowDelete();
    const std::optional<nlohmann::json> theme = platform_.settings->get("theme");
    if (theme && theme->is_string()) state_.theme = theme->get<std::string>();
    const std::optional<nlohmann::json> welcomed = platform_.settings->get("welcomed");
    state_.welcomed = welcomed && welcomed->is_boolean() && welcomed->get<bool>();
  }
  starterThread_ = std::thread([this] { starter_.run(); });
}

Hub::~Hub() {
  {
    MutexLock hold(alive_->mutex);
    alive_->hub = nullptr;
  }
  stop();
}

void Hub::stop() {
  // A delete waiting for the owner ends now, kept.
  {
    MutexLock hold(askMutex_);
    stopped_ = true;
    if (pendingAnswer_) pendingAnswer_->decide(false);
  }
  starter_.stop();
  if (starterThread_.joinable()) starterThread_.join();
  std::unique_ptr<Listener> server;
  {
    MutexLock hold(partsMutex_);
    server.swap(server_);
  }
  server.reset();  // waits for the connections, which use the API and the stores
}

void Hub::observe(std::function<void(const State&)> observer) { observers_.push_back(std::move(observer)); }

void Hub::publish() {
  for (const auto& observer : observers_) observer(state_);
}

void Hub::update(std::function<void(State&)> change) {
  if (platform_.main->isMain()) {
    change(state_);
    publish();
    return;
  }
  platform_.main->post([weak = weak_from_this(), change = std::move(change)] {
    if (const std::shared_ptr<Hub> hub = weak.lock()) hub->update(change);
  });
}

void Hub::start(const std::string& name) {
  if (!ticking_) {
    ticking_ = true;
    platform_.main->every(std::chrono::seconds(2), [weak = weak_from_this()] {
      if (const std::shared_ptr<Hub> hub = weak.lock()) hub->tick();
    });
  }
  starter_.post([weak = weak_from_this(), name] {
    if (const std::shared_ptr<Hub> hub = weak.lock()) hub->startBlocking(name);
  });
}

void Hub::startBlocking(const std::string& name) {
  {
    MutexLock hold(partsMutex_);
    if (server_) {
      server_->start();
      return;
    }
  }
  std::unique_ptr<Identity> identity = loadIdentity();
  if (!identity) return;
  Stores stores = makeStores(*identity);
  std::shared_ptr<DeleteHandler> deleter = makeDeleter();
  const DeviceInfo info{identity->deviceId(), name, platform_.model, platform_.appVersion, identity->fingerprint()};
  auto api = std::make_unique<Api>(*stores.pairing, *stores.laptops, library_, apiCallbacks(info, deleter, stores.marks));
  std::unique_ptr<Listener> server = makeServer(*api, *identity, name);

  // What the screens show from the start, read before the parts move in.
  const std::string fingerprint = identity->fingerprint();
  const Pairing::Code code = stores.pairing->current();
  const std::vector<Laptop> list = stores.laptops->all();
  const std::vector<Addresses::Address> addresses = platform_.addresses ? platform_.addresses() : std::vector<Addresses::Address>{};
  Listener* listener = server.get();
  {
    MutexLock hold(partsMutex_);
    identity_ = std::move(identity);
    laptops_ = std::move(stores.laptops);
    marks_ = std::move(stores.marks);
    pairing_ = std::move(stores.pairing);
    deleter_ = std::move(deleter);
    api_ = std::move(api);
    server_ = std::move(server);
  }
  update([name, code, list, addresses, fingerprint](State& state) {
    state.deviceName = name;
    state.code = code;
    state.laptops = list;
    state.addresses = addresses;
    state.fingerprint = fingerprint;
    // Counts made before start-up found no marks store: the marks are here now.
    ++state.marks;
  });
  listener->start();
}

std::unique_ptr<Identity> Hub::loadIdentity() {
  try {
    return std::make_unique<Identity>(platform_.loadIdentity());
  } catch (const std::exception& failure) {
    const auto* described = dynamic_cast<const DescribedFailure*>(&failure);
    const std::string reason = described ? described->description : failure.what();
    update([reason](State& state) {
      state.failed = true;
      state.notListening = "the device identity cannot be loaded: " + reason;
    });
    return nullptr;
  }
}

Hub::Stores Hub::makeStores(const Identity& identity) {
  const std::weak_ptr<Hub> weak = weak_from_this();
  const std::string& folder = platform_.dataFolder;
  Stores stores;
  stores.laptops = std::make_shared<Laptops>(folder + "/laptops.json");
  stores.laptops->setOnChange([weak](const std::vector<Laptop>& list) {
    if (const std::shared_ptr<Hub> hub = weak.lock()) hub->update([list](State& state) { state.laptops = list; });
  });
  stores.marks = std::make_shared<SafeMarks>(folder + "/safe.json");
  stores.marks->setOnChange([weak] {
    if (const std::shared_ptr<Hub> hub = weak.lock()) hub->update([](State& state) { ++state.marks; });
  });
  stores.pairing = std::make_shared<Pairing>(identity.fingerprint(), platform_.clock);
  stores.pairing->setOnNewCode([weak](const Pairing::Code& code) {
    if (const std::shared_ptr<Hub> hub = weak.lock()) hub->update([code](State& state) { state.code = code; });
  });
  return stores;
}

std::shared_ptr<DeleteHandler> Hub::makeDeleter() {
  const std::weak_ptr<Hub> weak = weak_from_this();
  return std::make_shared<DeleteHandler>(
      library_, [weak](const DeleteHandler::Question& question, const std::function<bool()>& stillAsVerified,
                       const std::function<bool()>& stillWanted) -> std::optional<DeleteHandler::Outcome> {
        const std::shared_ptr<Hub> hub = weak.lock();
        if (!hub) return std::nullopt;
        return hub->trash(question, stillAsVerified, stillWanted);
      },
      [weak] {
        const std::shared_ptr<Hub> hub = weak.lock();
        return hub && hub->ownerCanAnswer_.load();
      });
}

Api::Callbacks Hub::apiCallbacks(const DeviceInfo& info, std::shared_ptr<DeleteHandler> deleter,
                                 std::shared_ptr<SafeMarks> marks) {
  const std::weak_ptr<Hub> weak = weak_from_this();
  Api::Callbacks callbacks;
  callbacks.info = [info] { return info; };
  OwnerSettings* settings = platform_.settings;
  callbacks.deleteState = [settings] { return std::string(settings && settings->allowDelete() ? "on" : "off"); };
  callbacks.deleter = std::move(deleter);
  callbacks.onRequest = [weak](const Laptop& laptop) {
    if (const std::shared_ptr<Hub> hub = weak.lock()) hub->seen(laptop);
  };
  callbacks.transfers = std::weak_ptr<Transfers>(std::static_pointer_cast<Transfers>(shared_from_this()));
  callbacks.access = platform_.access;
  callbacks.marks = std::move(marks);
  callbacks.storage = [weak]() -> std::optional<Api::Storage> {
    const std::shared_ptr<Hub> hub = weak.lock();
    return hub ? hub->storage() : std::nullopt;
  };
  return callbacks;
}

std::unique_ptr<Listener> Hub::makeServer(Api& api, const Identity& identity, const std::string& name) {
  const std::weak_ptr<Hub> weak = weak_from_this();
  Api* route = &api;
  std::unique_ptr<Listener> server = platform_.makeListener(
      [route](const HttpRequest& request, ByteSink& sink) { route->route(request, sink); }, identity, name);
  server->setOnPort([weak](std::optional<std::uint16_t> port, const std::string& reason) {
    const std::shared_ptr<Hub> hub = weak.lock();
    if (!hub) return;
    hub->update([port, reason](State& state) {
      state.running = port.has_value();
      state.failed = !port.has_value();
      state.port = port.value_or(0);
      state.notListening = port ? "" : reason;
      state.cannotListen = !port.has_value();
    });
  });
  return server;
}

void Hub::seen(const Laptop& laptop) {
  const TimePoint now = platform_.clock();
  update([name = laptop.name, now](State& state) {
    // One change a second for a laptop that keeps asking.
    if (secondsBetween(state.lastSeen, now) <= 1.0 && state.lastLaptop == name) return;
    state.lastLaptop = name;
    state.lastSeen = now;
    state.connected = true;
  });
}

void Hub::libraryChanged() {
  update([](State& state) { ++state.library; });
}

std::optional<Api::Storage> Hub::storage() const {
  return platform_.storage ? platform_.storage() : std::nullopt;
}

// The theme and the welcome are shown for this run even when they cannot be
// stored: at worst the next start shows the old theme or the welcome again.
// Deleting is different (below).
void Hub::setTheme(const std::string& theme) {
  if (platform_.settings) (void)platform_.settings->set("theme", theme);
  update([theme](State& state) { state.theme = theme; });
}

void Hub::setAllowDelete(bool allow) {
  // The server reads the file at every request: the switch shows only what
  // it will find there.
  if (platform_.settings && !platform_.settings->set("allowDelete", allow)) return;
  update([allow](State& state) { state.allowDelete = allow; });
}

void Hub::setWelcomed() {
  if (platform_.settings) (void)platform_.settings->set("welcomed", true);
  update([](State& state) { state.welcomed = true; });
}

void Hub::dismissLateDeleted() {
  update([](State& state) { state.lateDeleted = 0; });
}

// --- Transfers and the tick ---------------------------------------------------

void Hub::began(const std::string& asset) {
  update([asset](State& state) {
    ++state.inFlight;
    state.currentAsset = asset;
  });
}

void Hub::ended(std::int64_t bytes, bool wholeFile) {
  const TimePoint now = platform_.clock();
  update([bytes, wholeFile, now](State& state) {
    --state.inFlight;
    state.sentBytes += bytes;
    state.lastTransfer = now;
    if (wholeFile) ++state.sentFiles;
  });
}

void Hub::cloud(double) {
  platform_.main->post([weak = weak_from_this()] {
    const std::shared_ptr<Hub> hub = weak.lock();
    if (!hub) return;
    hub->cloudSeen_ = hub->platform_.clock();
    if (!hub->state_.fromCloud) hub->update([](State& state) { state.fromCloud = true; });
  });
}

void Hub::tick() {
  std::shared_ptr<Pairing> pairing;
  {
    MutexLock hold(partsMutex_);
    pairing = pairing_;
  }
  // Lets an expired code be replaced; the new one arrives through the
  // pairing's callback.
  if (pairing) pairing->current();
  const std::vector<Addresses::Address> addresses = platform_.addresses ? platform_.addresses() : std::vector<Addresses::Address>{};
  const TimePoint now = platform_.clock();
  const double seenAgo = secondsBetween(state_.lastSeen, now);
  const double cloudAgo = secondsBetween(cloudSeen_, now);
  const bool connected = seenAgo < kLaptopPresentSeconds;
  const bool fromCloud = cloudAgo < 5.0;
  if (addresses != state_.addresses || connected != state_.connected || fromCloud != state_.fromCloud) {
    update([addresses, connected, fromCloud](State& state) {
      state.addresses = addresses;
      state.connected = connected;
      state.fromCloud = fromCloud;
    });
  }
  samples_.emplace_back(now, state_.sentBytes);
  if (samples_.size() >= 4) samples_.erase(samples_.begin(), samples_.end() - 3);
  const std::int64_t speed = SendSpeed::of(samples_);
  if (speed != state_.bytesPerSecond) update([speed](State& state) { state.bytesPerSecond = speed; });
  if (platform_.keepAwake) platform_.keepAwake(connected);
}

// --- Safe marks -----------------------------------------------------------------

std::vector<std::string> Hub::safeOn(const Asset& asset) const {
  std::shared_ptr<SafeMarks> marks;
  {
    MutexLock hold(partsMutex_);
    marks = marks_;
  }
  if (!marks) return {};
  const std::vector<std::string> holding = marks->laptops(asset.id, asset.modified);
  std::vector<std::string> names;
  for (const Laptop& laptop : state_.laptops) {
    if (std::find(holding.begin(), holding.end(), laptop.id) != holding.end()) names.push_back(laptop.name);
  }
  return names;
}

std::pair<std::int64_t, std::int64_t> Hub::safeCount() const {
  const std::int64_t all =
      platform_.store->count(PhotoStore::kImage) + platform_.store->count(PhotoStore::kVideo);
  std::shared_ptr<SafeMarks> marks;
  {
    MutexLock hold(partsMutex_);
    marks = marks_;
  }
  if (!marks) return {0, all};
  const std::set<std::string> ids = marks->ids();
  const std::map<std::string, std::string> versions = library_.versions({ids.begin(), ids.end()});
  std::int64_t safe = 0;
  for (const auto& [id, modified] : versions) {
    if (!marks->laptops(id, modified).empty()) ++safe;
  }
  return {std::min(safe, all), all};
}

bool Hub::forget(const std::string& laptopId) {
  std::shared_ptr<Laptops> laptops;
  std::shared_ptr<SafeMarks> marks;
  {
    MutexLock hold(partsMutex_);
    laptops = laptops_;
    marks = marks_;
  }
  const bool laptopForgotten = !laptops || laptops->forget(laptopId);
  const bool marksForgotten = !marks || marks->forget(laptopId);
  return laptopForgotten && marksForgotten;
}

// --- The owner's consent --------------------------------------------------------

std::optional<DeleteHandler::Outcome> Hub::trash(const DeleteHandler::Question& question,
                                                 const std::function<bool()>& stillAsVerified,
                                                 const std::function<bool()>& stillWanted) {
  std::vector<std::string> locals;
  for (const std::string& id : question.ids) {
    std::optional<std::string> local = PhotoLibrary::localIdentifier(id);
    if (!local) return std::nullopt;
    locals.push_back(std::move(*local));
  }
  // One deadline for the answer and the deletion together.
  const auto deadline = std::chrono::steady_clock::now() + platform_.answerTime;
  auto answer = std::make_shared<SheetAnswer>();
  {
    MutexLock hold(askMutex_);
    if (pendingAnswer_ || stopped_) return std::nullopt;
    pendingAnswer_ = answer;
  }
  DeleteAsk ask{newUuid(), question.ids, std::nullopt, question.photos, question.videos,
                question.bytes, question.firstDay, question.lastDay};
  update([ask](State& state) mutable {
    ask.laptop = state.lastLaptop;
    state.deleteAsk = ask;
  });
  // The wait wakes every few hundred milliseconds to see whether the
  // laptop is still there: one that hung up can never learn what a yes
  // deleted, so its question is withdrawn.
  DeleteAskEnd::How how = DeleteAskEnd::How::answered;
  std::optional<bool> decided;
  while (!decided) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      if (answer->decide(false)) how = DeleteAskEnd::How::expired;
      decided = answer->wait(deadline);
    } else if (stillWanted && !stillWanted()) {
      if (answer->decide(false)) how = DeleteAskEnd::How::withdrawn;
      decided = answer->wait(deadline);
    } else {
      decided = answer->waitUntil(std::min(deadline, now + kPeerCheck));
    }
  }
  const bool yes = *decided;
  {
    MutexLock hold(askMutex_);
    if (pendingAnswer_ == answer) pendingAnswer_.reset();
  }
  update([end = DeleteAskEnd{ask.id, how}](State& state) {
    state.deleteAsk.reset();
    state.deleteAskEnd = end;
  });
  if (!yes) return std::nullopt;
  // Verified again after the yes: a photo changed while the owner decided
  // holds bytes no laptop has checked.
  if (stillAsVerified && !stillAsVerified()) return std::nullopt;

  // The deletion runs on a thread of its own so that the deadline holds
  // even for a slow disk; what a deletion that ends late deleted is
  // counted apart.
  struct Deletion {
    Mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::vector<PhotoStore::Deletion> outcomes;
    bool gaveUp = false;
  };
  auto deletion = std::make_shared<Deletion>();
  std::thread([deletion, locals, store = platform_.store, alive = alive_] {
    std::vector<PhotoStore::Deletion> outcomes = store->deleteAssets(locals);
    const auto count = static_cast<std::int64_t>(std::count_if(
        outcomes.begin(), outcomes.end(), [](const PhotoStore::Deletion& outcome) { return !outcome.kept; }));
    bool late = false;
    {
      MutexLock hold(deletion->mutex);
      deletion->finished = true;
      deletion->outcomes = std::move(outcomes);
      late = deletion->gaveUp && count > 0;
    }
    deletion->done.notify_all();
    if (late) {
      MutexLock hold(alive->mutex);
      if (alive->hub != nullptr) alive->hub->update([count](State& state) { state.lateDeleted += count; });
    }
  }).detach();
  MutexLock hold(deletion->mutex);
  while (!deletion->finished) {
    if (!hold.waitUntil(deletion->done, deadline) && !deletion->finished) {
      deletion->gaveUp = true;
      return std::nullopt;
    }
  }
  DeleteHandler::Outcome outcome;
  DeleteDone told{ask.id, 0, {}};
  for (const PhotoStore::Deletion& done : deletion->outcomes) {
    const std::string id = PhotoLibrary::wireId(done.localIdentifier);
    if (done.kept) {
      outcome.kept.emplace_back(id, *done.kept);
      ++told.kept[*done.kept];
    } else {
      outcome.deleted.push_back(id);
      ++told.deleted;
    }
  }
  update([told](State& state) { state.deleteDone = told; });
  return outcome;
}

void Hub::answerDelete(bool yes) {
  std::shared_ptr<SheetAnswer> pending;
  {
    MutexLock hold(askMutex_);
    pending = pendingAnswer_;
  }
  if (pending) pending->decide(yes);
  update([](State& state) { state.deleteAsk.reset(); });
}

}  // namespace lumenvale
