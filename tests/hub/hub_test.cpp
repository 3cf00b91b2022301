// Tests of the hub with a fake clock, an in-memory photo store, a fake
// listener and the test's own run loop as the main thread: start-up and its
// retry, the port, `seen`, the tick, the owner's consent, and the settings.
#include "hub/hub.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "platform/openssl_keys.h"
#include "platform/settings.h"
#include "support/memory_keychain.h"
#include "support/memory_photo_store.h"
#include "support/program.h"
#include "util/atomic_file.h"

namespace lumenvale {
namespace {

using namespace std::chrono_literals;
using testing::MemoryPhotoStore;

// What the hub did with its listeners.
struct Listening {
  std::mutex mutex;
  Server::PortCallback onPort;
  int made = 0;
  int starts = 0;
};

class FakeListener : public Listener {
 public:
  explicit FakeListener(std::shared_ptr<Listening> log) : log_(std::move(log)) {}
  void setOnPort(Server::PortCallback onPort) override {
    std::lock_guard hold(log_->mutex);
    log_->onPort = std::move(onPort);
  }
  void start() override {
    std::lock_guard hold(log_->mutex);
    ++log_->starts;
  }

 private:
  std::shared_ptr<Listening> log_;
};

class HubTest : public ::testing::Test {
 protected:
  HubTest() : folder_("hub"), settings_(folder_.path() + "/settings.json") {
    for (const char* local : {"A", "B", "C"}) store_.add(MemoryPhotoStore::photo(local));
  }

  ~HubTest() override {
    if (hub_) hub_->stop();
  }

  Hub::Platform platform() {
    Hub::Platform platform;
    platform.main = &main_;
    platform.clock = [this] { return TimePoint(std::chrono::milliseconds(nowMs_.load())); };
    platform.dataFolder = folder_.path();
    platform.settings = &settings_;
    platform.store = &store_;
    platform.loadIdentity = [this] {
      ++identityLoads_;
      if (failIdentity_) throw Identity::Failure("the keychain is locked");
      OpenSslKeys keys;
      return Identity::loadOrCreate(keychain_, keys, systemNow());
    };
    platform.makeListener = [this](Server::Handler, const Identity&, const std::string&) {
      {
        std::lock_guard hold(listening_->mutex);
        ++listening_->made;
      }
      return std::make_unique<FakeListener>(listening_);
    };
    platform.addresses = [this] {
      std::lock_guard hold(addressesMutex_);
      return addresses_;
    };
    platform.keepAwake = [this](bool awake) { awake_ = awake; };
    platform.answerTime = answerTime_;
    return platform;
  }

  void make() {
    hub_ = Hub::make(platform());
    hub_->observe([this](const HubState&) { ++published_; });
  }

  // run serves the main thread until `done` holds.
  bool run(const std::function<bool()>& done) { return main_.runUntil(done, 10s); }

  // started builds the hub and waits for the end of its start-up.
  void started() {
    make();
    hub_->start("Phone");
    ASSERT_TRUE(run([&] { return !hub_->state().fingerprint.empty(); }));
  }

  void report(std::optional<std::uint16_t> port, const std::string& reason = "") {
    Server::PortCallback onPort;
    {
      std::lock_guard hold(listening_->mutex);
      onPort = listening_->onPort;
    }
    ASSERT_TRUE(onPort);
    onPort(port, reason);
  }

  void at(std::chrono::milliseconds sinceStart) { nowMs_ = kStart.count() + sinceStart.count(); }

  static constexpr std::chrono::milliseconds kStart{1'800'000'000'000};

  testing::TemporaryFolder folder_;
  Settings settings_;
  MemoryPhotoStore store_;
  RunLoop main_;
  testing::MemoryKeychain keychain_;
  std::atomic<std::int64_t> nowMs_{kStart.count()};
  std::atomic<int> identityLoads_{0};
  std::atomic<bool> failIdentity_{false};
  std::shared_ptr<Listening> listening_ = std::make_shared<Listening>();
  std::mutex addressesMutex_;
  std::vector<Addresses::Address> addresses_ = {{"192.168.1.5", "wlan0"}};
  std::optional<bool> awake_;
  std::chrono::milliseconds answerTime_ = 10s;
  int published_ = 0;
  std::shared_ptr<Hub> hub_;
};

TEST_F(HubTest, StartsOnceThenOnlyListensAgain) {
  ASSERT_NO_FATAL_FAILURE(started());
  const HubState& state = hub_->state();
  EXPECT_EQ(state.deviceName, "Phone");
  EXPECT_TRUE(state.code.has_value());
  EXPECT_EQ(state.addresses, addresses_);
  EXPECT_FALSE(state.running);
  EXPECT_FALSE(state.failed);

  hub_->start("Phone");
  ASSERT_TRUE(run([&] {
    std::lock_guard hold(listening_->mutex);
    return listening_->starts == 2;
  }));
  EXPECT_EQ(identityLoads_, 1);
  std::lock_guard hold(listening_->mutex);
  EXPECT_EQ(listening_->made, 1);
}

TEST_F(HubTest, AFailedStartLeavesNothingAndTheNextStartBuildsAll) {
  failIdentity_ = true;
  make();
  hub_->start("Phone");
  ASSERT_TRUE(run([&] { return hub_->state().failed; }));
  EXPECT_EQ(hub_->state().notListening, "the device identity cannot be loaded: the keychain is locked");
  // Not the listener's fault: the front ends try again rather than end.
  EXPECT_FALSE(hub_->state().cannotListen);
  EXPECT_TRUE(hub_->state().fingerprint.empty());
  {
    std::lock_guard hold(listening_->mutex);
    EXPECT_EQ(listening_->made, 0);
  }
  failIdentity_ = false;
  hub_->start("Phone");
  ASSERT_TRUE(run([&] { return !hub_->state().fingerprint.empty(); }));
  EXPECT_EQ(identityLoads_, 2);
  // The listener starts right after the state is told.
  ASSERT_TRUE(run([&] {
    std::lock_guard hold(listening_->mutex);
    return listening_->starts == 1;
  }));
  std::lock_guard hold(listening_->mutex);
  EXPECT_EQ(listening_->made, 1);
}

TEST_F(HubTest, ThePortDecidesRunningAndFailed) {
  ASSERT_NO_FATAL_FAILURE(started());
  report(41821);
  ASSERT_TRUE(run([&] { return hub_->state().running; }));
  EXPECT_EQ(hub_->state().port, 41821);
  EXPECT_FALSE(hub_->state().failed);
  EXPECT_FALSE(hub_->state().cannotListen);
  report(std::nullopt, "every port is taken");
  ASSERT_TRUE(run([&] { return hub_->state().failed; }));
  EXPECT_FALSE(hub_->state().running);
  EXPECT_EQ(hub_->state().port, 0);
  EXPECT_EQ(hub_->state().notListening, "every port is taken");
  EXPECT_TRUE(hub_->state().cannotListen);
}

TEST_F(HubTest, ALaptopIsSeenAtMostOnceASecond) {
  ASSERT_NO_FATAL_FAILURE(started());
  const Laptop desk{"desk", "Desk", "", 0};
  const Laptop attic{"attic", "Attic", "", 0};
  struct Step {
    std::chrono::milliseconds at;
    const Laptop* laptop;
    std::chrono::milliseconds lastSeen;
  };
  const Step steps[] = {
      {0ms, &desk, 0ms},       {500ms, &desk, 0ms},      {1000ms, &desk, 0ms},
      {1001ms, &desk, 1001ms}, {1200ms, &attic, 1200ms}, {1300ms, &desk, 1300ms},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.at.count());
    at(step.at);
    hub_->seen(*step.laptop);  // from a connection thread: posted
    const int before = published_;
    ASSERT_TRUE(run([&] { return published_ > before; }));
    EXPECT_EQ(hub_->state().lastSeen, TimePoint(kStart + step.lastSeen));
    EXPECT_TRUE(hub_->state().connected);
  }
  EXPECT_EQ(hub_->state().lastLaptop, "Desk");
}

TEST_F(HubTest, TheTickFollowsPresenceCloudAndSpeed) {
  ASSERT_NO_FATAL_FAILURE(started());
  at(0ms);
  hub_->seen({"desk", "Desk", "", 0});
  hub_->began("asset-1");
  ASSERT_TRUE(run([&] { return hub_->state().inFlight == 1; }));
  EXPECT_EQ(hub_->state().currentAsset, "asset-1");

  const auto tickAt = [&](std::chrono::milliseconds when) {
    at(when);
    bool ticked = false;
    main_.post([&] {
      hub_->tick();
      ticked = true;
    });
    ASSERT_TRUE(run([&] { return ticked; }));
  };
  ASSERT_NO_FATAL_FAILURE(tickAt(2000ms));
  hub_->ended(8000, true);
  hub_->cloud(0.5);
  ASSERT_TRUE(run([&] { return hub_->state().sentFiles == 1 && hub_->state().fromCloud; }));
  EXPECT_EQ(hub_->state().inFlight, 0);
  EXPECT_EQ(hub_->state().sentBytes, 8000);
  ASSERT_NO_FATAL_FAILURE(tickAt(4000ms));
  EXPECT_EQ(hub_->state().bytesPerSecond, 4000);  // 8000 bytes between the ticks at 2 s and 4 s
  EXPECT_EQ(awake_, true);
  EXPECT_TRUE(hub_->state().connected);
  ASSERT_NO_FATAL_FAILURE(tickAt(6000ms));
  EXPECT_EQ(hub_->state().bytesPerSecond, 2000);  // over the last three samples
  EXPECT_TRUE(hub_->state().fromCloud);           // reported at 2 s: under 5 s ago
  ASSERT_NO_FATAL_FAILURE(tickAt(8000ms));
  EXPECT_EQ(hub_->state().bytesPerSecond, 0);
  EXPECT_FALSE(hub_->state().fromCloud);

  {
    std::lock_guard hold(addressesMutex_);
    addresses_.clear();
  }
  ASSERT_NO_FATAL_FAILURE(tickAt(29999ms));
  EXPECT_TRUE(hub_->state().addresses.empty());
  EXPECT_TRUE(hub_->state().connected);
  ASSERT_NO_FATAL_FAILURE(tickAt(30000ms));
  EXPECT_FALSE(hub_->state().connected);
  EXPECT_EQ(awake_, false);
}

TEST_F(HubTest, SafeMarksCountOnlyForPairedLaptopsAndUnchangedAssets) {
  make();
  const Asset a = *hub_->library().asset(PhotoLibrary::wireId("A"));
  const Asset b = *hub_->library().asset(PhotoLibrary::wireId("B"));
  EXPECT_EQ(hub_->safeCount(), std::make_pair(std::int64_t{0}, std::int64_t{3}));  // no store yet
  {
    // As an earlier run left them: two paired laptops, and marks from them
    // and from a laptop forgotten since.
    Laptops laptops(folder_.path() + "/laptops.json");
    laptops.add("desk", "Desk", "token-1", systemNow());
    laptops.add("attic", "Attic", "token-2", systemNow() + 1s);
    SafeMarks marks(folder_.path() + "/safe.json");
    marks.receive("desk", {{a.id, a.modified}, {b.id, "an older version"}}, "op", 2);
    marks.receive("attic", {{a.id, a.modified}}, "op", 1);
    marks.receive("gone", {{b.id, b.modified}, {PhotoLibrary::wireId("deleted"), "x"}}, "op", 2);
  }
  hub_->start("Phone");
  ASSERT_TRUE(run([&] { return !hub_->state().fingerprint.empty(); }));
  EXPECT_EQ(hub_->safeOn(a), (std::vector<std::string>{"Attic", "Desk"}));  // in the laptops' order
  EXPECT_TRUE(hub_->safeOn(b).empty());
  EXPECT_EQ(hub_->safeCount(), std::make_pair(std::int64_t{2}, std::int64_t{3}));  // A, and B from "gone"

  const std::int64_t before = hub_->state().marks;
  EXPECT_TRUE(hub_->forget("desk"));
  ASSERT_TRUE(run([&] { return hub_->state().marks == before + 1 && hub_->state().laptops.size() == 1; }));
  EXPECT_EQ(hub_->safeOn(a), std::vector<std::string>{"Attic"});
}

TEST_F(HubTest, SettingsAndTheirDefaults) {
  make();
  EXPECT_FALSE(hub_->state().allowDelete);
  EXPECT_EQ(hub_->state().theme, "system");
  EXPECT_FALSE(hub_->state().welcomed);
  bool done = false;
  main_.post([&] {
    hub_->setTheme("dark");
    hub_->setAllowDelete(true);
    hub_->setWelcomed();
    done = true;
  });
  ASSERT_TRUE(run([&] { return done; }));
  EXPECT_EQ(hub_->state().theme, "dark");
  hub_->stop();
  hub_.reset();
  make();
  EXPECT_EQ(hub_->state().theme, "dark");
  EXPECT_TRUE(hub_->state().allowDelete);
  EXPECT_TRUE(hub_->state().welcomed);
}

TEST_F(HubTest, DeletingIsNotShownOnWhenTheChoiceCannotBeStored) {
  // A settings file under a plain file can never be written, not even by root.
  ASSERT_TRUE(AtomicFile::write(folder_.path() + "/plain", "x", 0600));
  Settings unwritable(folder_.path() + "/plain/settings.json");
  Hub::Platform made = platform();
  made.settings = &unwritable;
  hub_ = Hub::make(made);
  bool done = false;
  main_.post([&] {
    hub_->setAllowDelete(true);
    done = true;
  });
  ASSERT_TRUE(run([&] { return done; }));
  EXPECT_FALSE(hub_->state().allowDelete);
  EXPECT_FALSE(unwritable.allowDelete());
  hub_->stop();
}

// --- The owner's consent ----------------------------------------------------------

class ConsentTest : public HubTest {
 protected:
  // ask calls trash from a connection thread and serves the main thread
  // until the question is shown.
  using Asked = std::future<std::optional<DeleteHandler::Outcome>>;

  Asked ask(std::vector<std::string> locals, std::function<bool()> stillAsVerified = nullptr,
            std::function<bool()> stillWanted = nullptr) {
    std::vector<std::string> ids;
    for (const std::string& local : locals) ids.push_back(PhotoLibrary::wireId(local));
    const std::string before = hub_->state().deleteAsk ? hub_->state().deleteAsk->id : "";
    auto asked = std::async(std::launch::async, [this, ids, stillAsVerified, stillWanted] {
      return hub_->trash({ids, 0, 0, 0, {}, {}}, stillAsVerified, stillWanted);
    });
    EXPECT_TRUE(run([&] { return hub_->state().deleteAsk && hub_->state().deleteAsk->id != before; }));
    return asked;
  }

  void answer(bool yes) {
    bool done = false;
    main_.post([&] {
      hub_->answerDelete(yes);
      done = true;
    });
    ASSERT_TRUE(run([&] { return done; }));
  }

  std::int64_t photos() { return store_.count(PhotoStore::kImage); }
};

TEST_F(ConsentTest, AYesDeletesANoKeeps) {
  ASSERT_NO_FATAL_FAILURE(started());
  at(0ms);
  hub_->seen({"desk", "Desk", "", 0});
  Asked asked = ask({"A", "B"});
  const DeleteAsk shown = *hub_->state().deleteAsk;
  EXPECT_EQ(shown.ids, (std::vector<std::string>{PhotoLibrary::wireId("A"), PhotoLibrary::wireId("B")}));
  EXPECT_EQ(shown.laptop, "Desk");
  EXPECT_EQ(shown.id.size(), 36u);
  ASSERT_NO_FATAL_FAILURE(answer(true));
  const std::optional<DeleteHandler::Outcome> outcome = asked.get();
  ASSERT_TRUE(outcome);
  EXPECT_EQ(outcome->deleted, shown.ids);
  EXPECT_TRUE(outcome->kept.empty());
  EXPECT_FALSE(hub_->state().deleteAsk);
  EXPECT_EQ(photos(), 1);

  asked = ask({"C"});
  ASSERT_NO_FATAL_FAILURE(answer(false));
  EXPECT_FALSE(asked.get());
  EXPECT_EQ(photos(), 1);

  // A yes, but the photo changed while the owner decided.
  asked = ask({"C"}, [] { return false; });
  ASSERT_NO_FATAL_FAILURE(answer(true));
  EXPECT_FALSE(asked.get());
  EXPECT_EQ(photos(), 1);

  // An id that is no asset id: nothing asked.
  EXPECT_FALSE(hub_->trash({{"not/an/id"}, 0, 0, 0, {}, {}}, nullptr));
}

TEST_F(ConsentTest, NoAnswerInTimeKeepsAndALateTapChangesNothing) {
  answerTime_ = 300ms;
  ASSERT_NO_FATAL_FAILURE(started());
  Asked asked = ask({"A"});
  // A second question while the first is shown is refused at once.
  EXPECT_FALSE(hub_->trash({{PhotoLibrary::wireId("B")}, 0, 0, 0, {}, {}}, nullptr));
  ASSERT_TRUE(run([&] { return !hub_->state().deleteAsk; }));
  EXPECT_FALSE(asked.get());
  ASSERT_TRUE(hub_->state().deleteAskEnd);
  EXPECT_EQ(hub_->state().deleteAskEnd->how, DeleteAskEnd::How::expired);
  ASSERT_NO_FATAL_FAILURE(answer(true));
  EXPECT_EQ(photos(), 3);
}

TEST_F(ConsentTest, ADeletionPastTheDeadlineIsCountedLate) {
  answerTime_ = 1s;
  ASSERT_NO_FATAL_FAILURE(started());
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  store_.setBeforeDelete([released] { released.wait(); });
  Asked asked = ask({"A", "B"});
  ASSERT_NO_FATAL_FAILURE(answer(true));
  EXPECT_FALSE(asked.get());  // the deadline passed with the deletion under way
  EXPECT_EQ(hub_->state().lateDeleted, 0);
  release.set_value();
  ASSERT_TRUE(run([&] { return hub_->state().lateDeleted == 2; }));
  EXPECT_EQ(photos(), 1);
  bool dismissed = false;
  main_.post([&] {
    hub_->dismissLateDeleted();
    dismissed = true;
  });
  ASSERT_TRUE(run([&] { return dismissed; }));
  EXPECT_EQ(hub_->state().lateDeleted, 0);

  // A platform that keeps one asset: it is reported kept, with the
  // platform's reason, and nothing is late.
  store_.setBeforeDelete(nullptr);
  store_.keepOnDelete("C", "no_trash");
  asked = ask({"C"});
  ASSERT_NO_FATAL_FAILURE(answer(true));
  const std::optional<DeleteHandler::Outcome> outcome = asked.get();
  ASSERT_TRUE(outcome);
  EXPECT_TRUE(outcome->deleted.empty());
  EXPECT_EQ(outcome->kept, (std::vector<std::pair<std::string, std::string>>{{PhotoLibrary::wireId("C"), "no_trash"}}));
  EXPECT_EQ(photos(), 1);
  EXPECT_EQ(hub_->state().lateDeleted, 0);
}

TEST_F(ConsentTest, AQuestionWhoseLaptopHungUpIsWithdrawn) {
  ASSERT_NO_FATAL_FAILURE(started());
  std::atomic<bool> there = true;
  Asked asked = ask({"A"}, nullptr, [&] { return there.load(); });
  const std::string question = hub_->state().deleteAsk->id;
  const auto hungUp = std::chrono::steady_clock::now();
  there = false;
  ASSERT_TRUE(run([&] { return !hub_->state().deleteAsk; }));
  EXPECT_FALSE(asked.get());
  // Noticed within a few checks, not at the two-minute deadline.
  EXPECT_LT(std::chrono::steady_clock::now() - hungUp, 2s);
  ASSERT_TRUE(hub_->state().deleteAskEnd);
  EXPECT_EQ(*hub_->state().deleteAskEnd, (DeleteAskEnd{question, DeleteAskEnd::How::withdrawn}));
  // A yes given after the withdrawal deletes nothing.
  ASSERT_NO_FATAL_FAILURE(answer(true));
  EXPECT_EQ(photos(), 3);
}

}  // namespace
}  // namespace lumenvale
