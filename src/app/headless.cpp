#include "app/headless.h"

#include <pthread.h>
#include <signal.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/device_side.h"
#include "app/folder_library.h"
#include "app/terminal_input.h"
#include "screens/hero.h"
#include "hub/hub.h"
#include "hub/run_loop.h"
#include "util/format.h"
#include "util/mutex.h"
#include "util/text.h"

namespace lumenvale {
namespace {

using Steady = std::chrono::steady_clock;

// While sending, the figures are printed again at most this often (each
// second with --verbose).
constexpr auto kSendingRefresh = std::chrono::seconds(5);
// A start-up that failed is tried again this often.
constexpr auto kRetry = std::chrono::seconds(30);

Mutex& outputMutex() {
  static Mutex mutex;
  return mutex;
}


// tellStatus tells a service manager that started the program (systemd, with
// Type=notify) what it is doing; without one it does nothing. The text
// carries names from outside, escaped as the lines are.
void tellStatus(const std::string& text) { sd_notify(0, ("STATUS=" + Text::printable(text)).c_str()); }

// prompt writes a question that the owner answers on the same line.
void prompt(const std::string& text) {
  MutexLock hold(outputMutex());
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

// The terminal's view of the hub: prints each change the owner should see,
// once, and puts delete questions to the owner. Main thread only.
class Terminal {
 public:
  Terminal(Hub& hub, int verbosity) : hub_(hub), verbosity_(verbosity) {}

  void show(const HubState& state) {
    if (!state.fingerprint.empty() && !fingerprintShown_) {
      fingerprintShown_ = true;
      say("Fingerprint: " + state.fingerprint);
    }
    if (state.port != 0 && state.port != shownPort_) {
      say("Listening on port " + std::to_string(state.port));
      // Ready once laptops can reach it; again after listening anew.
      tellStatus("Listening on port " + std::to_string(state.port));
      sd_notify(0, "READY=1");
    }
    shownPort_ = state.port;
    if (state.failed && !state.notListening.empty() && state.notListening != shownProblem_) {
      say("Not listening: " + state.notListening);
      tellStatus("Not listening: " + state.notListening);
    }
    shownProblem_ = state.failed ? state.notListening : "";
    // A code is of use only once laptops can reach the device.
    const std::string code = state.code && fingerprintShown_ && state.port != 0 ? state.code->display() : "";
    if (!code.empty() && code != shownCode_) say("Pairing code: " + code);
    if (!code.empty()) shownCode_ = code;
    ask(state);
    done(state);
    status(state);
  }

  // status prints the Home card's case when it changes, and while sending
  // the new figures at most every 5 seconds.
  void status(const HubState& state) {
    if (state.port == 0) return;  // "Not listening" has said it
    if (!asked_.empty()) return;  // a line now would break the open question
    const Hero::Case hero = Hero::of(state, systemNow());
    std::string key;
    std::string text;
    bool figures = false;
    if (const auto* waiting = std::get_if<Hero::Waiting>(&hero)) {
      key = "waiting " + waiting->code;
      text = waiting->code.empty() ? "waiting for a laptop"
                                   : "waiting for a laptop; pairing code " + waiting->code;
    } else if (const auto* sending = std::get_if<Hero::Sending>(&hero)) {
      key = "sending " + sending->laptop;
      text = "sending to " + sending->laptop + ": " + Format::count(sending->files) +
             (sending->files == 1 ? " file, " : " files, ") + Format::bytes(sending->bytes) + ", " +
             Format::bytes(sending->bytesPerSecond) + "/s";
      figures = true;
    } else if (const auto* connected = std::get_if<Hero::Connected>(&hero)) {
      key = "connected " + connected->laptop;
      text = "connected to " + connected->laptop;
    } else {
      key = "no network";
      text = "no network";
    }
    const auto now = Steady::now();
    const bool changed = key != shownKey_;
    const auto every = verbosity_ > 0 ? std::chrono::seconds(1) : kSendingRefresh;
    const bool refresh = figures && text != shownText_ && now - shownAt_ >= every;
    if (!changed && !refresh) return;
    if (verbosity_ >= 0) say("Status: " + text);
    tellStatus(text);
    shownKey_ = key;
    shownText_ = text;
    shownAt_ = now;
  }

  // A line typed by the owner: the answer to the question shown, if any.
  void typed(const std::string& line) {
    if (!asked_.empty() && hub_.state().deleteAsk && hub_.state().deleteAsk->id == asked_) {
      answered_ = true;
      hub_.answerDelete(TerminalInput::isYes(line));
    }
  }

  // The input ended (or there was none, as for a service): nobody can
  // answer here, which laptops are told when they ask.
  void ended() {
    inputEnded_ = true;
    hub_.setOwnerCanAnswer(false);
    if (hub_.state().deleteAsk) hub_.answerDelete(false);
  }

 private:
  void ask(const HubState& state) {
    if (state.deleteAsk && state.deleteAsk->id != asked_) {
      asked_ = state.deleteAsk->id;
      answered_ = false;
      if (inputEnded_) {
        answered_ = true;
        hub_.answerDelete(false);
        return;
      }
      prompt(question(*state.deleteAsk));
    } else if (!state.deleteAsk && !asked_.empty()) {
      // No line ended the question (its time ran out, or the laptop hung
      // up): end it here, saying why.
      const bool ended = state.deleteAskEnd && state.deleteAskEnd->id == asked_;
      if (!answered_ && ended && state.deleteAskEnd->how == DeleteAskEnd::How::expired) {
        prompt("\nNo answer in time: nothing was deleted.\n");
      } else if (!answered_ && ended && state.deleteAskEnd->how == DeleteAskEnd::How::withdrawn) {
        prompt("\nThe laptop hung up, so the question is withdrawn: nothing was deleted.\n");
      } else if (!answered_) {
        prompt("\n");
      }
      asked_.clear();
    }
  }

  // done tells the owner what a yes did, once: a yes is not always a
  // deletion (a file changed, or no Trash on its disk can take it).
  void done(const HubState& state) {
    if (!state.deleteDone || state.deleteDone->id == toldDone_) return;
    toldDone_ = state.deleteDone->id;
    say("Moved " + Format::count(state.deleteDone->deleted) + " to the Trash.");
    for (const auto& [reason, count] : state.deleteDone->kept) {
      const std::string why = reason == "changed"       ? "changed since the laptop checked"
                              : reason == "no_trash"    ? "no Trash on the disk that holds the files can take them"
                              : reason == "not_deleted" ? "the files could not be moved to the Trash"
                              : reason == "not_found"   ? "no longer in the library"
                                                        : reason;
      say("Kept " + Format::count(count) + ": " + why + ".");
    }
  }

  // question returns the delete question as the owner reads it: who asks,
  // what, how much and from when.
  static std::string question(const DeleteAsk& ask) {
    std::string what;
    if (ask.photos > 0) what = Format::count(ask.photos) + (ask.photos == 1 ? " photo" : " photos");
    if (ask.photos > 0 && ask.videos > 0) what += " and ";
    if (ask.videos > 0) what += Format::count(ask.videos) + (ask.videos == 1 ? " video" : " videos");
    if (what.empty()) what = photosAndVideos(static_cast<std::int64_t>(ask.ids.size()));
    std::string taken;
    const std::string first = captureDay(ask.firstDay), last = captureDay(ask.lastDay);
    if (!first.empty() && first == last) taken = ", taken on " + first;
    if (!first.empty() && !last.empty() && first != last) taken = ", taken from " + first + " to " + last;
    const std::string them = ask.photos + ask.videos == 1 ? "it" : "them";
    return Text::printable(ask.laptop.value_or("A laptop")) + " has copied " + what + " (" +
           Format::bytes(ask.bytes) + taken +
           ") and asks to delete " + them + " here. Move " + them + " to the Trash? [y/N] ";
  }

  // captureDay returns "yyyy-MM-dd" as the short date the screens show, or
  // nothing when it is no date.
  static std::string captureDay(const std::string& day) {
    const std::optional<TimePoint> noon = Format::parseIso8601(day + "T12:00:00Z");
    return noon ? Format::day(*noon, "UTC") : std::string();
  }

  Hub& hub_;
  const int verbosity_;
  bool fingerprintShown_ = false;
  std::uint16_t shownPort_ = 0;
  std::string shownProblem_;
  std::string shownCode_;
  std::string shownKey_;
  std::string shownText_;
  Steady::time_point shownAt_{};
  std::string asked_;  // the id of the question shown
  std::string toldDone_;  // the id of the question whose outcome was told
  bool answered_ = false;
  bool inputEnded_ = false;
};

}  // namespace

// Lines come from the main thread and the library's threads; each is
// written whole and flushed at once, so a reader of the output sees it
// immediately. Lines carry names from outside (laptops, files, folders), so
// each is escaped: no control character reaches the terminal or the journal.
void say(const std::string& line) {
  const std::string shown = Text::printable(line);
  MutexLock hold(outputMutex());
  std::fputs(shown.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

int runHeadless(const Options& options) {
  // SIGINT and SIGTERM are taken by one thread alone: blocked here, before
  // any thread starts, so every thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  RunLoop main;
  std::unique_ptr<DeviceSide> device;
  try {
    // --quiet keeps the library's problems and drops its counts.
    const auto told = [quiet = options.verbosity < 0](const std::string& line) {
      if (!(quiet && line.starts_with("Library: "))) say(line);
    };
    device = std::make_unique<DeviceSide>(options, main, told, true);
  } catch (const DeviceSide::Failure& failure) {
    std::fprintf(stderr, "lumenvale: %s\n", failure.description.c_str());
    return 1;
  }
  Hub* hub = &device->hub();

  Terminal terminal(*hub, options.verbosity);
  int status = 0;
  hub->observe([&terminal, &main, &status](const HubState& state) {
    terminal.show(state);
    // Serving nowhere is of no use to anyone: end, so that a service
    // manager can start the program again once the address is there.
    if (state.cannotListen && status == 0) {
      std::fprintf(stderr, "lumenvale: cannot serve laptops: %s\n", state.notListening.c_str());
      status = 1;
      main.stop();
    }
  });
  TerminalInput input(
      STDIN_FILENO, [&main, &terminal](const std::string& line) { main.post([&terminal, line] { terminal.typed(line); }); },
      [&main, &terminal] { main.post([&terminal] { terminal.ended(); }); });

  const std::string name = device->name();
  main.every(std::chrono::seconds(1), [&terminal, hub] { terminal.status(hub->state()); });
  main.every(kRetry, [hub, name] {
    if (hub->state().failed) hub->start(name);
  });
  main.post([hub, name] { hub->start(name); });
  // A service manager that watches the program hears from its main loop
  // twice per period: a loop that hangs is restarted.
  std::uint64_t watchdog = 0;
  if (sd_watchdog_enabled(0, &watchdog) > 0 && watchdog >= 2000) {
    main.every(std::chrono::milliseconds(watchdog / 2000), [] { sd_notify(0, "WATCHDOG=1"); });
  }

  std::thread signals([&main, &stopSignals] {
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    main.stop();
  });
  main.run();
  sd_notify(0, "STOPPING=1");
  if (status != 0) {
    // Ended by the main thread, not a signal: wake the signal thread.
    pthread_kill(signals.native_handle(), SIGTERM);
  }
  signals.join();
  device.reset();  // stops the hub first
  return status;
}

}  // namespace lumenvale
