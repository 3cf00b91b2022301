// The one long-lived, observable object of the device side. The hub builds
// the server side on first start (identity, paired laptops, safe marks,
// pairing, delete handler, API, listener), keeps the one State that every
// screen reads, and turns the server side's news (a laptop seen, the port,
// a new code, the lists changed, transfers, cloud downloads, a delete that
// needs the owner's consent) into changes of that State on the main thread.
// Nothing else changes State, and only on the main thread.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "api/api.h"
#include "hub/send_speed.h"
#include "hub/main_queue.h"
#include "hub/run_loop.h"
#include "library/library_access.h"
#include "library/photo_library.h"
#include "library/photo_store.h"
#include "pairing/identity.h"
#include "pairing/laptops.h"
#include "pairing/pairing.h"
#include "hub/owner_settings.h"
#include "safety/delete_handler.h"
#include "safety/safe_marks.h"
#include "safety/sheet_answer.h"
#include "transport/server.h"
#include "util/addresses.h"
#include "util/clock.h"
#include "util/mutex.h"

namespace lumenvale {

// A delete waiting for the owner's consent.
struct DeleteAsk {
  std::string id;                     // a fresh UUID per question
  std::vector<std::string> ids;       // the asset ids that would be deleted
  std::optional<std::string> laptop;  // the laptop that made the latest request
  std::int64_t photos = 0;            // photos and Live Photos among them
  std::int64_t videos = 0;
  std::int64_t bytes = 0;             // of every file that would go
  std::string firstDay;               // the span of capture days, "yyyy-MM-dd"
  std::string lastDay;
  bool operator==(const DeleteAsk&) const = default;
};

// How the last delete question ended, for the front ends to say so.
struct DeleteAskEnd {
  enum class How { answered, expired, withdrawn };
  std::string id;  // the question's id
  How how = How::answered;
  bool operator==(const DeleteAskEnd&) const = default;
};

// What the latest yes did, for the front ends to tell the owner.
struct DeleteDone {
  std::string id;                          // the question's id
  std::int64_t deleted = 0;                // assets moved to the Trash
  std::map<std::string, std::int64_t> kept;  // reason code -> assets kept for it
  bool operator==(const DeleteDone&) const = default;
};

// A laptop counts as present this long after its last request.
inline constexpr double kLaptopPresentSeconds = 30.0;

// Everything the screens show.
struct HubState {
  bool running = false;
  bool failed = false;
  std::string deviceName;
  std::uint16_t port = 0;
  std::vector<Addresses::Address> addresses;
  std::optional<Pairing::Code> code;
  std::vector<Laptop> laptops;
  std::optional<std::string> lastLaptop;
  TimePoint lastSeen{};  // the distant past until a laptop is seen
  bool connected = false;
  bool allowDelete = false;
  bool fromCloud = false;
  std::int64_t lateDeleted = 0;
  std::int64_t sentFiles = 0;
  std::int64_t sentBytes = 0;
  std::int64_t bytesPerSecond = 0;
  int inFlight = 0;
  TimePoint lastTransfer{};
  std::optional<std::string> currentAsset;
  std::string theme = "system";
  bool welcomed = false;
  std::optional<DeleteAsk> deleteAsk;
  std::optional<DeleteAskEnd> deleteAskEnd;  // of the latest question that ended
  std::optional<DeleteDone> deleteDone;      // of the latest yes that was carried out
  // Change counters: `marks` is bumped at every change of the safe marks
  // (and when the marks are first loaded), `library` whenever an index of
  // the library ends, so that what is counted from them is counted again.
  std::int64_t marks = 0;
  std::int64_t library = 0;
  // Beyond what the screens need: the terminal front end prints these.
  std::string fingerprint;    // once the identity is loaded
  std::string notListening;   // why there is no port, when there is none
  // The listener could not listen on the address it was given, or stopped:
  // the front ends end the program, so that a service manager restarts it.
  bool cannotListen = false;
  bool operator==(const HubState&) const = default;
};

// The listener as the hub drives it; the real one is a Server.
class Listener {
 public:
  virtual ~Listener() = default;
  virtual void setOnPort(Server::PortCallback onPort) = 0;
  virtual void start() = 0;
};

class Hub : public Transfers, public std::enable_shared_from_this<Hub> {
 public:
  using State = HubState;
  using MakeListener = std::function<std::unique_ptr<Listener>(Server::Handler handler, const Identity& identity,
                                                               const std::string& name)>;

  // What the hub needs of the platform. Every pointer must outlive the hub.
  struct Platform {
    MainQueue* main = nullptr;
    Clock clock = systemNow;
    std::string dataFolder;      // where laptops.json and safe.json live
    OwnerSettings* settings = nullptr;  // the owner's settings
    PhotoStore* store = nullptr;   // the photo library's platform side
    std::function<Identity()> loadIdentity;  // throws Identity::Failure
    MakeListener makeListener;
    std::function<std::vector<Addresses::Address>()> addresses = Addresses::list;
    std::function<LibraryAccess()> access;
    std::function<std::optional<Api::Storage>()> storage;    // nothing when unknown
    std::string model;
    std::string appVersion;
    std::function<void(bool)> keepAwake;  // true while a laptop is present
    std::chrono::milliseconds answerTime = std::chrono::seconds(120);  // consent and deletion together
  };

  // make builds the hub; the server side waits for start().
  static std::shared_ptr<Hub> make(Platform platform);
  ~Hub() override;
  Hub(const Hub&) = delete;
  Hub& operator=(const Hub&) = delete;

  // serverListener makes real listeners: a Server on `options` that
  // advertises through `advertiser` (may be null).
  static MakeListener serverListener(Advertiser* advertiser, Server::Options options);

  // --- main thread -------------------------------------------------------
  // stop ends the server side for good: a delete waiting for the owner is
  // kept, and the listener and its connections are gone when it returns.
  // Called before the last reference goes, so no connection thread is left
  // holding the hub.
  void stop();
  const State& state() const { return state_; }
  // observe is told the state after every change.
  void observe(std::function<void(const State&)> observer);
  // start builds the server side on the start-up worker, or, once built,
  // asks the listener to listen again if it has stopped. The first call
  // also starts the 2-second tick.
  void start(const std::string& name);
  void tick();
  void setTheme(const std::string& theme);
  // setAllowDelete stores the owner's choice; when the settings file cannot
  // be written the state keeps what the file says.
  void setAllowDelete(bool allow);
  void setWelcomed();
  void dismissLateDeleted();
  // answerDelete is the owner's answer to the delete question shown.
  void answerDelete(bool yes);
  // setOwnerCanAnswer says whether anyone can answer a delete question here
  // (false once a terminal front end's input has ended); laptops that ask
  // while nobody can are told so at once. Any thread.
  void setOwnerCanAnswer(bool can) { ownerCanAnswer_ = can; }
  // safeOn names the paired laptops that hold `asset` safely.
  std::vector<std::string> safeOn(const Asset& asset) const;
  // forget drops a paired laptop and its safe marks; false when either
  // could not be written, so that a restart would bring them back.
  [[nodiscard]] bool forget(const std::string& laptopId);

  // --- any thread ---------------------------------------------------------
  // safeCount: (assets held safely by some laptop, all assets). It reads
  // the store and the marks, never the state: the screens count on threads
  // of their own.
  std::pair<std::int64_t, std::int64_t> safeCount() const EXCLUDES(partsMutex_);
  void began(const std::string& asset) override;
  void ended(std::int64_t bytes, bool wholeFile) override;
  void cloud(double progress);
  // seen records a request of a paired laptop (the API's onRequest).
  void seen(const Laptop& laptop);
  // libraryChanged says that an index of the library ended: assets may have
  // come or gone.
  void libraryChanged();
  std::optional<Api::Storage> storage() const;
  // trash asks the owner about deleting the question's assets and deletes
  // them on a yes given in time: what was deleted and what kept, or nothing
  // when nothing was (a no, no answer in time, `stillWanted` turned false
  // while the question was open, an asset changed, or the deletion ran
  // past the deadline). Called on a connection thread.
  std::optional<DeleteHandler::Outcome> trash(const DeleteHandler::Question& question,
                                              const std::function<bool()>& stillAsVerified,
                                              const std::function<bool()>& stillWanted = nullptr);

  const PhotoLibrary& library() const { return library_; }

 private:
  explicit Hub(Platform platform);

  // update applies `change` to the state on the main thread.
  void update(std::function<void(State&)> change);
  void publish();
  // startBlocking makes the server side, step by step, on the start-up
  // worker: the identity (its failure is the state's), the stores, the
  // deleter, the API over them and the listener; then moves them in and
  // starts listening.
  void startBlocking(const std::string& name);
  struct Stores {
    std::shared_ptr<Laptops> laptops;
    std::shared_ptr<SafeMarks> marks;
    std::shared_ptr<Pairing> pairing;
  };
  std::unique_ptr<Identity> loadIdentity();
  Stores makeStores(const Identity& identity);
  std::shared_ptr<DeleteHandler> makeDeleter();
  Api::Callbacks apiCallbacks(const DeviceInfo& info, std::shared_ptr<DeleteHandler> deleter,
                              std::shared_ptr<SafeMarks> marks);
  std::unique_ptr<Listener> makeServer(Api& api, const Identity& identity, const std::string& name);

  Platform platform_;
  State state_;
  std::vector<std::function<void(const State&)>> observers_;
  PhotoLibrary library_;

  RunLoop starter_;  // the serial start-up worker
  std::thread starterThread_;

  // The server side, made on the start-up worker, read from the main thread.
  mutable Mutex partsMutex_;
  std::unique_ptr<Identity> identity_ GUARDED_BY(partsMutex_);
  std::shared_ptr<Laptops> laptops_ GUARDED_BY(partsMutex_);
  std::shared_ptr<SafeMarks> marks_ GUARDED_BY(partsMutex_);
  std::shared_ptr<Pairing> pairing_ GUARDED_BY(partsMutex_);
  std::shared_ptr<DeleteHandler> deleter_ GUARDED_BY(partsMutex_);
  std::unique_ptr<Api> api_ GUARDED_BY(partsMutex_);
  std::unique_ptr<Listener> server_ GUARDED_BY(partsMutex_);

  bool ticking_ = false;          // main thread
  TimePoint cloudSeen_{};         // main thread
  std::vector<SendSpeed::Sample> samples_;  // main thread

  // How often an open question checks that its laptop is still there.
  static constexpr std::chrono::milliseconds kPeerCheck{200};

  Mutex askMutex_;
  std::atomic<bool> ownerCanAnswer_{true};
  std::shared_ptr<SheetAnswer> pendingAnswer_ GUARDED_BY(askMutex_);
  bool stopped_ GUARDED_BY(askMutex_) = false;  // no more questions

  // Threads that outlive a request (a deletion past its deadline) reach the
  // hub only through this, and only while it is set.
  struct Alive {
    Mutex mutex;
    Hub* hub GUARDED_BY(mutex) = nullptr;
  };
  std::shared_ptr<Alive> alive_;
};

}  // namespace lumenvale
