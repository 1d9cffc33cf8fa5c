// hxhost: a small stand-in for the Hexaflow host. It provides the host's
// functions (through the host stand-in library), loads libvelmora_hx.so with
// dlopen as the host does, points the discovery stand-in at a devices file,
// and asks the plug-in for the names of an "IVI" I/O-name control.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "devices_file.h"
#include "hxhost_standin.h"
#include "options.h"
#include "qxmodinst_standin.h"
#include "result.h"
#include "velmora/velmora_hx.h"

namespace hxhost {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotOk = 1;
constexpr int kExitBadInput = 2;
// The plug-in's statuses and modes come from its public header.
constexpr int32_t kStatusOk = VELMORA_HX_OK;
constexpr int32_t kStatusBinding = VELMORA_HX_BINDING;
constexpr int32_t kExpectedInterface = 4;
constexpr uint32_t kModeChanged = VELMORA_HX_REFRESH_CHANGED;
constexpr auto kBindingPatience = std::chrono::seconds(10);
constexpr auto kSearchPatience = std::chrono::seconds(60);
constexpr auto kPollInterval = std::chrono::milliseconds(100);

using GetIOControlNamesFn = int32_t (*)(uint32_t, ConstPStr, void *, HxHandle *, HxVariantRef,
                                        uint32_t);
using GetInfoFn = int32_t (*)();

std::atomic<bool> interrupted{false};

// Messages of hxhost itself. The plug-in writes its debug trace to standard
// error; unless --trace is given that goes to /dev/null, and hxhost keeps its
// own copy of the original stream for its messages.
FILE *messages = stderr;

// The plug-in's trace texts carry no line end of their own; with --trace
// hxhost ends the line after each request so that its own messages and the
// next request's trace start on a fresh one.
bool tracing = false;

void EndTraceLine() {
  if (tracing) std::fputs("\n", stderr);
}

void Say(const std::string &text) {
  std::fprintf(messages, "hxhost: %s\n", text.c_str());
  std::fflush(messages);
}

int Fail(const std::string &text) {
  Say("error: " + text);
  return kExitBadInput;
}

void SilencePluginTrace() {
  const int copy = dup(STDERR_FILENO);
  const int null = open("/dev/null", O_WRONLY);
  if (copy < 0 || null < 0) return;
  if (FILE *stream = fdopen(copy, "w")) messages = stream;
  dup2(null, STDERR_FILENO);
  close(null);
}

struct SessionLine {
  std::string name;
  std::optional<std::string> orig;
};

std::string Trim(const std::string &text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Sessions file: "name | name it was opened from" per line; the second field
// may be left out. '#' starts a comment line.
std::optional<std::string> ReadSessions(const std::string &path, std::vector<SessionLine> *out) {
  std::string contents;
  if (const int error = qxmodinst::ReadWholeFile(path, &contents); error != 0) {
    return "cannot read sessions file '" + path + "': " + std::strerror(error);
  }
  std::istringstream in(contents);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#') continue;
    const size_t bar = text.find('|');
    SessionLine session{Trim(text.substr(0, bar)), std::nullopt};
    if (bar != std::string::npos) {
      const std::string rest = text.substr(bar + 1);
      if (rest.find('|') != std::string::npos || session.name.empty()) {
        return path + ":" + std::to_string(number) + ": expected 'name | opened from'";
      }
      session.orig = Trim(rest);
    }
    if (session.name.empty()) {
      return path + ":" + std::to_string(number) + ": a session needs a name";
    }
    out->push_back(session);
  }
  return std::nullopt;
}

class Host {
 public:
  Host(GetIOControlNamesFn getNames, const Options &options)
      : getNames_(getNames), properties_(hxhost_variant_new()) {
    hxhost_variant_set_u32(properties_, "displayFilter", options.displayFilter);
    if (options.typeClass) {
      hxhost_variant_set_string(properties_, "typeClass", options.typeClass->c_str());
    }
    ivi_[0] = 3;
    ivi_[1] = 'I';
    ivi_[2] = 'V';
    ivi_[3] = 'I';
  }
  ~Host() { hxhost_variant_dispose(properties_); }
  Host(const Host &) = delete;
  Host &operator=(const Host &) = delete;

  // One request; the entries are read and the handle given back at once.
  int32_t Ask(uint32_t mode, std::vector<Entry> *entries) {
    HxHandle names = nullptr;
    const int32_t status = getNames_(0, ivi_, nullptr, &names, properties_, mode);
    EndTraceLine();
    entries->clear();
    if (names != nullptr) {
      if (status == kStatusOk) *entries = ReadEntries(names);
      hxhost_dispose_list(names);
    }
    return status;
  }

  // Asks while the plug-in is still binding its libraries.
  int32_t AskOnceBound(uint32_t mode, std::vector<Entry> *entries) {
    const auto deadline = std::chrono::steady_clock::now() + kBindingPatience;
    bool told = false;
    for (;;) {
      const int32_t status = Ask(mode, entries);
      if (status != kStatusBinding || std::chrono::steady_clock::now() > deadline) return status;
      if (!told) Say("the plug-in is still binding its libraries; asking again");
      told = true;
      std::this_thread::sleep_for(kPollInterval);
    }
  }

  // Asks again, in "refresh what changed" mode, until no worker is searching.
  int32_t AskUntilComplete(int32_t status, std::vector<Entry> *entries) {
    const auto deadline = std::chrono::steady_clock::now() + kSearchPatience;
    while (status == kStatusOk && StillSearching(*entries) && !interrupted &&
           std::chrono::steady_clock::now() < deadline) {
      size_t names = 0;
      for (const Entry &e : *entries) names += e.name && !e.IsSearchingMarker() ? 1 : 0;
      Say("<Searching for more>: " + std::to_string(names) + " names so far; asking again");
      std::this_thread::sleep_for(kPollInterval);
      status = Ask(kModeChanged, entries);
    }
    return status;
  }

 private:
  GetIOControlNamesFn getNames_;
  HxVariantRef properties_;
  unsigned char ivi_[4];
};

void Print(const std::vector<Entry> &entries, int32_t status, bool json) {
  const std::string text = json ? RenderJson(entries, status) : RenderText(entries, status);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
}

std::string Clock() {
  const std::time_t now = std::time(nullptr);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", std::localtime(&now));
  return text;
}

int Watch(Host &host, const Options &options, std::vector<Entry> shown) {
  std::signal(SIGINT, [](int) { interrupted = true; });
  std::signal(SIGTERM, [](int) { interrupted = true; });
  Say("watching every " + std::to_string(options.watchSeconds) + " s (Ctrl-C stops); edit the " +
      (options.store.empty() ? "devices file" : "devices file or the store") +
      " to see the list change");
  int32_t status = kStatusOk;
  for (uint32_t round = 1; !interrupted && (options.watchRounds == 0 || round <= options.watchRounds);
       ++round) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(options.watchSeconds);
    while (!interrupted && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (interrupted) break;
    std::vector<Entry> entries;
    status = host.AskUntilComplete(host.Ask(options.mode, &entries), &entries);
    if (status != kStatusOk) {
      Say("status " + std::to_string(status) + ": " + StatusMeaning(status));
      continue;
    }
    const std::string changes = RenderChanges(shown, entries);
    if (!changes.empty()) {
      if (options.json) {
        Print(entries, status, true);
      } else {
        std::printf("[%s] the list changed:\n%s", Clock().c_str(), changes.c_str());
        std::fflush(stdout);
      }
      shown = entries;
    }
  }
  return status == kStatusOk ? kExitOk : kExitNotOk;
}

int Run(int argc, char **argv) {
  Options defaults;
  defaults.plugin = HXHOST_DEFAULT_PLUGIN;
  defaults.devices = HXHOST_DEFAULT_DEVICES;
  defaults.configLibrary = HXHOST_DEFAULT_CONFIG_LIBRARY;
  defaults.visaLibrary = HXHOST_DEFAULT_VISA_LIBRARY;
  const ParseResult parsed = ParseOptions(argc, argv, defaults);
  if (const auto *error = std::get_if<std::string>(&parsed)) {
    return Fail(*error + " (hxhost --help lists the options)");
  }
  const Options &options = std::get<Options>(parsed);
  if (options.help) {
    std::fputs(Usage(defaults).c_str(), stdout);
    return kExitOk;
  }
  tracing = options.trace;
  if (!tracing) SilencePluginTrace();

  // The first problem names the file and, when it could not be read, why.
  const qxmodinst::DevicesSnapshot devices = qxmodinst::ReadDevicesFile(options.devices);
  if (!devices.parsed.errors.empty()) return Fail(devices.parsed.errors.front());
  std::vector<SessionLine> sessions;
  if (!options.sessions.empty()) {
    if (auto error = ReadSessions(options.sessions, &sessions)) return Fail(*error);
  }

  // The discovery stand-in reads the devices file on every session it opens.
  qxmodinst_standin_set_devices_file(options.devices.c_str());
  qxmodinst_standin_set_open_delay_ms(options.discoveryDelayMs);
  for (const SessionLine &s : sessions) {
    hxhost_sessions_add(s.name.c_str(), s.orig ? s.orig->c_str() : nullptr);
  }

  // A host user turns the store and VISA bindings on with the same
  // variables, set before the plug-in loads.
  if (!options.store.empty()) {
    if (access(options.store.c_str(), R_OK) != 0) {
      return Fail("cannot read store '" + options.store + "': " + std::strerror(errno));
    }
    setenv("VELMORA_STORE", options.store.c_str(), 1);
    setenv("VELMORA_HX_CONFIG_LIBRARY", options.configLibrary.c_str(), 1);
  }
  if (!options.visa.empty()) {
    if (access(options.visa.c_str(), R_OK) != 0) {
      return Fail("cannot read VISA resources file '" + options.visa + "': " +
                  std::strerror(errno));
    }
    setenv("VISA_STANDIN_RESOURCES", options.visa.c_str(), 1);
    setenv("VELMORA_HX_VISA_LIBRARY", options.visaLibrary.c_str(), 1);
  }

  void *plugin = dlopen(options.plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (plugin == nullptr) return Fail("cannot load plug-in: " + std::string(dlerror()));
  auto getNames = reinterpret_cast<GetIOControlNamesFn>(dlsym(plugin, "GetIOControlNames"));
  auto getInfo = reinterpret_cast<GetInfoFn>(dlsym(plugin, "GetInfo"));
  if (getNames == nullptr || getInfo == nullptr) {
    return Fail("'" + options.plugin + "' is not an I/O-name plug-in");
  }
  if (getInfo() != kExpectedInterface) {
    return Fail("'" + options.plugin + "' has plug-in interface " + std::to_string(getInfo()) +
                ", expected " + std::to_string(kExpectedInterface));
  }

  Host host(getNames, options);
  std::vector<Entry> entries;
  int32_t status = host.AskOnceBound(options.mode, &entries);
  if (options.wait || options.watch) status = host.AskUntilComplete(status, &entries);
  Print(entries, status, options.json);
  if (options.watch && status == kStatusOk) return Watch(host, options, entries);
  // The plug-in stays mapped after dlclose (a worker may still run), so the
  // handle is simply left to the process exit.
  return status == kStatusOk ? kExitOk : kExitNotOk;
}

}  // namespace
}  // namespace hxhost

int main(int argc, char **argv) {
  try {
    return hxhost::Run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "hxhost: error: %s\n", e.what());
    return 2;
  }
}
