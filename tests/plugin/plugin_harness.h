// Test harness that treats libvelmora_hx.so the way the host does: the test
// program links the host stand-in (which exports the host's functions) and
// dlopens the built plug-in, whose undefined host symbols then resolve
// against it. Also: the request's statuses, modes and marker, requests as
// the host makes them, readable views of result handles, control
// properties, devices files for the discovery stand-in, a controllable clock
// and a capture of the trace stream. The request tests live in namespace
// hxtest, so that all of it is at hand without using-declarations.
#ifndef VELMORA_TESTS_PLUGIN_HARNESS_H
#define VELMORA_TESTS_PLUGIN_HARNESS_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hxhost_list_reader.h"
#include "hxhost_standin.h"
#include "qxmodinst_standin.h"

namespace hxtest {

// How long a test waits for something that must happen (a worker to finish,
// a call to return while a gate is held) before it calls it a failure. Only
// a failing case ever waits this long, so it is generous: a loaded machine,
// or a sanitizer, makes the plug-in slower, never wrong.
constexpr auto kPatience = std::chrono::seconds(60);

// ---- What a name-list request answers -------------------------------------

// GetIOControlNames statuses the tests compare against.
constexpr int32_t kOk = 0;
constexpr int32_t kBinding = 2;  // the loader has not finished yet
constexpr int32_t kRefused = 5;  // another class, or a mode out of range
// Its refresh modes.
constexpr uint32_t kModeChanged = 0;
constexpr uint32_t kModeFull = 1;
constexpr uint32_t kModeCached = 2;
// The searching marker's name, and the marker as RenderList renders it.
inline const std::string kMarkerName = "<Searching for more>";
inline const std::string kMarker = "<Searching for more> #7";
// What a request that must not write its output leaves there.
inline const HxHandle kUntouched = reinterpret_cast<HxHandle>(uintptr_t{0x5eed});

// A result as RenderList renders it, one string per entry.
using Rendered = std::vector<std::string>;

// The plug-in's 23 entries, resolved from one dlopen of the built library.
struct Plugin {
  int32_t (*GetIOControlNames)(uint32_t, ConstPStr, void *, HxHandle *, HxVariantRef, uint32_t);
  int32_t (*GetIOControlRtClickMenuItems)(uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                          uint32_t, HxHandle *);
  int32_t (*ReleasingAppRef)(void *);
  int32_t (*GetInfo)();
  int32_t (*IviIni_OpenIniFile)(const char *, void **);
  int32_t (*IviIni_CloseIniFile)(void *, uint8_t);
  int32_t (*IviIni_ConfigurationChanged)(void *, uint8_t *);
  int32_t (*IviIni_ReloadConfiguration)(void *);
  int32_t (*IviIni_GetNumberOfLogicalNames)(void *, int32_t *);
  int32_t (*IviIni_GetNthLogicalName)(void *, uint32_t, const char **);
  int32_t (*IviIni_GetLogicalNameVI)(void *, const char *, char *, uint32_t);
  int32_t (*IviIni_GetVIDriver)(void *, const char *, char *, uint32_t);
  int32_t (*IviIni_GetDriverClass)(void *, const char *, char *, uint32_t);
  int32_t (*IviIni_GetDriverClassCount)(void *, const char *, int32_t *);
  int32_t (*IviIni_GetDriverClassByIndex)(void *, const char *, int32_t, char *, uint32_t);
  int32_t (*IviIni_GetDriverPrefix)(void *, const char *, char *, uint32_t);
  int32_t (*IviIni_GetNumberOfVisaNames)(int32_t *, char *, uint32_t *);
  int32_t (*IviIni_GetNextVisaName)(uint32_t, char *);
  int32_t (*IviIni_CloseVisaNameList)(uint32_t);
  int32_t (*IviIni_GetNumberOfModularInstruments)(void *, int32_t *);
  int32_t (*IviIni_GetModularInstrumentName)(void *, uint32_t, char *);
  int32_t (*IviIni_GetModularInstrumentClass)(void *, uint32_t, char *);
  int32_t (*IviIni_GetModularInstrumentPrefix)(void *, uint32_t, char *);

  void *library = nullptr;
};

// dlopens the plug-in once per process (RTLD_NOW | RTLD_LOCAL, as a host
// does) and resolves every entry; a missing entry fails the calling test.
const Plugin &LoadPlugin();
// Path of the built plug-in.
const char *PluginPath();

// A length-prefixed string.
class PStr {
 public:
  explicit PStr(const std::string &text);
  ConstPStr get() const { return bytes_.data(); }

 private:
  std::vector<unsigned char> bytes_;
};

// The class "IVI" as the host passes it.
ConstPStr IviClass();

// A control's properties variant; disposed of with the object.
class Properties {
 public:
  // displayFilter: nullopt leaves the attribute absent. typeClass likewise.
  explicit Properties(std::optional<uint32_t> displayFilter = 0x3000u,
                      std::optional<std::string> typeClass = std::nullopt);
  ~Properties();
  Properties(const Properties &) = delete;
  Properties &operator=(const Properties &) = delete;
  HxVariantRef get() const { return variant_; }

 private:
  HxVariantRef variant_;
};

// One entry of a result handle as the host would read it.
using ResultEntry = hxhost_list::ListEntry;

// The entries of a list handle up to its count field.
std::vector<ResultEntry> ReadList(HxHandle list);
// The same, rendered one string per entry for golden comparisons:
//   "name"        an entry with "n" only
//   "name +g"     with "g" 1123 ("+g=<v>" for another value)
//   "#-1", "#3"   an entry with "id" only (ids as signed numbers)
//   "name #7"     an entry with both
//   "(empty)"     an entry without attributes
std::vector<std::string> RenderList(HxHandle list);
// The first `slots` slots of a list handle, rendered as RenderList does,
// whatever its count field says: a failed result keeps count 0 but the
// entries it had already named.
std::vector<std::string> RenderSlots(HxHandle list, int32_t slots);

// The sizes of every block requested from the host's `function`
// ("DSNewHandle", "DSNewHClr") so far, oldest first.
std::vector<size_t> RequestedSizes(const char *function);
// The same, leaving out the first `from` of them.
std::vector<size_t> SizesSince(const char *function, size_t from);

// One name-list request as the host makes it, from application context 0.
int32_t Request(const Plugin &plugin, HxHandle *names, HxVariantRef properties, uint32_t mode,
                ConstPStr ioClass = IviClass());
// Requests, expects `expectedStatus`, and answers the result rendered
// (TakeList; empty when the request wrote none).
Rendered RequestRendered(const Plugin &plugin, HxVariantRef properties, uint32_t mode,
                         int32_t expectedStatus = kOk);

// Asks for names until the plug-in has finished binding (it answers 2 until
// then) and answers the first other status; the result of that request is
// stored in *names. Fails the test after kPatience.
int32_t RequestUntilBound(const Plugin &plugin, HxHandle *names, HxVariantRef properties,
                          uint32_t mode);

// Issues requests in mode 0 until the answer carries no "<Searching for
// more>" marker, disposing of every result; the last result is answered (the
// caller disposes of it). The devices file must be unchanged meanwhile, or
// mode 0 may restart the worker. Fails the test after kPatience.
HxHandle RequestUntilSettled(const Plugin &plugin, HxVariantRef properties);

// Renders a result handle (RenderList) and hands it back to the host
// stand-in (hxhost_dispose_list). A null handle renders as no entries.
std::vector<std::string> TakeList(HxHandle list);

// Binds the plug-in (RequestUntilBound in mode 1) and waits until the
// discovery run that the first bound request started has finished
// (RequestUntilSettled); answers the settled result, rendered.
std::vector<std::string> BindAndSettle(const Plugin &plugin, HxVariantRef properties);

// Polls `done` every few milliseconds until it holds; false (and a test
// failure naming `what`) when it still does not after kPatience.
bool WaitUntil(const std::function<bool()> &done, const char *what);

// What the discovery stand-in has counted so far. Inline, so that only the
// programs that call it need the stand-in linked: the unload tests must not
// link it.
inline qxmodinst_standin_counters Discovery() {
  qxmodinst_standin_counters counters{};
  qxmodinst_standin_get_counters(&counters);
  return counters;
}

// A devices file for the discovery stand-in, in a fresh temporary folder.
class DevicesFile {
 public:
  explicit DevicesFile(const std::vector<std::string> &lines = {});
  ~DevicesFile();
  DevicesFile(const DevicesFile &) = delete;
  DevicesFile &operator=(const DevicesFile &) = delete;
  const std::string &path() const { return path_; }
  // Rewrites the file (the stand-in then reports the devices not current).
  void Write(const std::vector<std::string> &lines);

 private:
  std::string dir_;
  std::string path_;
};

// Captures what is written to standard error (file descriptor 2) while the
// object lives.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture &) = delete;
  StderrCapture &operator=(const StderrCapture &) = delete;
  // Everything captured so far.
  std::string Text();

 private:
  int saved_;
  std::string path_;
};

}  // namespace hxtest

// The clock the plug-in reads through time(): the real wall clock plus an
// offset a test may move. Provided by fake_clock.cpp, which interposes
// time() for the whole test process.
void AdvanceFakeClock(int64_t seconds);
// Stops the clock at its current reading, so that only AdvanceFakeClock
// moves it from then on: tests of the 20-second throttle need exact
// differences, which a running wall clock cannot give. There is no way back
// in the same process.
void FreezeFakeClock();

#endif
