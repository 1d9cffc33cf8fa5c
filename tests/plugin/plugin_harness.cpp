#include "plugin_harness.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

namespace hxtest {
namespace {

constexpr uint32_t kOpenSessionGroup = 1123;
constexpr auto kPollInterval = std::chrono::milliseconds(5);

template <class Fn>
void Resolve(void *library, const char *name, Fn &fn) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  if (fn == nullptr) ADD_FAILURE() << "libvelmora_hx.so does not export " << name;
}

Plugin OpenPlugin() {
  Plugin p{};
  p.library = dlopen(PluginPath(), RTLD_NOW | RTLD_LOCAL);
  if (p.library == nullptr) {
    ADD_FAILURE() << "cannot load " << PluginPath() << ": " << dlerror();
    std::abort();
  }
#define VELMORA_RESOLVE(name) Resolve(p.library, #name, p.name)
  VELMORA_RESOLVE(GetIOControlNames);
  VELMORA_RESOLVE(GetIOControlRtClickMenuItems);
  VELMORA_RESOLVE(ReleasingAppRef);
  VELMORA_RESOLVE(GetInfo);
  VELMORA_RESOLVE(IviIni_OpenIniFile);
  VELMORA_RESOLVE(IviIni_CloseIniFile);
  VELMORA_RESOLVE(IviIni_ConfigurationChanged);
  VELMORA_RESOLVE(IviIni_ReloadConfiguration);
  VELMORA_RESOLVE(IviIni_GetNumberOfLogicalNames);
  VELMORA_RESOLVE(IviIni_GetNthLogicalName);
  VELMORA_RESOLVE(IviIni_GetLogicalNameVI);
  VELMORA_RESOLVE(IviIni_GetVIDriver);
  VELMORA_RESOLVE(IviIni_GetDriverClass);
  VELMORA_RESOLVE(IviIni_GetDriverClassCount);
  VELMORA_RESOLVE(IviIni_GetDriverClassByIndex);
  VELMORA_RESOLVE(IviIni_GetDriverPrefix);
  VELMORA_RESOLVE(IviIni_GetNumberOfVisaNames);
  VELMORA_RESOLVE(IviIni_GetNextVisaName);
  VELMORA_RESOLVE(IviIni_CloseVisaNameList);
  VELMORA_RESOLVE(IviIni_GetNumberOfModularInstruments);
  VELMORA_RESOLVE(IviIni_GetModularInstrumentName);
  VELMORA_RESOLVE(IviIni_GetModularInstrumentClass);
  VELMORA_RESOLVE(IviIni_GetModularInstrumentPrefix);
#undef VELMORA_RESOLVE
  return p;
}

bool Searching(HxHandle list) {
  for (const ResultEntry &e : ReadList(list)) {
    if (e.n && *e.n == kMarkerName) return true;
  }
  return false;
}

}  // namespace

const char *PluginPath() {
  return VELMORA_HX_PATH;
}

const Plugin &LoadPlugin() {
  static const Plugin plugin = OpenPlugin();
  return plugin;
}

PStr::PStr(const std::string &text) : bytes_(text.size() + 1) {
  bytes_[0] = static_cast<unsigned char>(text.size());
  std::copy(text.begin(), text.end(), bytes_.begin() + 1);
}

ConstPStr IviClass() {
  static const PStr ivi("IVI");
  return ivi.get();
}

Properties::Properties(std::optional<uint32_t> displayFilter, std::optional<std::string> typeClass)
    : variant_(hxhost_variant_new()) {
  if (displayFilter) hxhost_variant_set_u32(variant_, "displayFilter", *displayFilter);
  if (typeClass) hxhost_variant_set_string(variant_, "typeClass", typeClass->c_str());
}

Properties::~Properties() {
  hxhost_variant_dispose(variant_);
}

namespace {

std::string Render(const ResultEntry &e) {
  std::string text = e.n.value_or("");
  auto append = [&text](const std::string &part) {
    if (!text.empty()) text += ' ';
    text += part;
  };
  if (e.g) append(*e.g == kOpenSessionGroup ? "+g" : "+g=" + std::to_string(*e.g));
  if (e.id) append("#" + std::to_string(static_cast<int32_t>(*e.id)));
  if (!e.n && !e.g && !e.id) text = "(empty)";
  return text;
}

}  // namespace

std::vector<ResultEntry> ReadList(HxHandle list) {
  return hxhost_list::ReadListEntries(list);
}

std::vector<std::string> RenderList(HxHandle list) {
  std::vector<std::string> rendered;
  for (const ResultEntry &e : ReadList(list)) rendered.push_back(Render(e));
  return rendered;
}

std::vector<std::string> RenderSlots(HxHandle list, int32_t slots) {
  std::vector<std::string> rendered;
  for (int32_t i = 0; i < slots; ++i)
    rendered.push_back(Render(hxhost_list::ReadListSlot(list, i)));
  return rendered;
}

std::vector<size_t> RequestedSizes(const char *function) {
  std::vector<size_t> sizes(hxhost_requested_sizes(function, nullptr, 0));
  hxhost_requested_sizes(function, sizes.data(), sizes.size());
  return sizes;
}

std::vector<size_t> SizesSince(const char *function, size_t from) {
  const std::vector<size_t> all = RequestedSizes(function);
  return std::vector<size_t>(all.begin() + static_cast<std::ptrdiff_t>(from), all.end());
}

int32_t Request(const Plugin &plugin, HxHandle *names, HxVariantRef properties, uint32_t mode,
                ConstPStr ioClass) {
  return plugin.GetIOControlNames(0, ioClass, nullptr, names, properties, mode);
}

Rendered RequestRendered(const Plugin &plugin, HxVariantRef properties, uint32_t mode,
                         int32_t expectedStatus) {
  HxHandle names = nullptr;
  EXPECT_EQ(expectedStatus, Request(plugin, &names, properties, mode));
  return TakeList(names);
}

int32_t RequestUntilBound(const Plugin &plugin, HxHandle *names, HxVariantRef properties,
                          uint32_t mode) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    const int32_t status = Request(plugin, names, properties, mode);
    if (status != kBinding) return status;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the plug-in is still binding after " << kPatience.count() << " s";
      return status;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

HxHandle RequestUntilSettled(const Plugin &plugin, HxVariantRef properties) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    HxHandle names = nullptr;
    const int32_t status = Request(plugin, &names, properties, kModeChanged);
    if (status == kOk && !Searching(names)) return names;
    if (names != nullptr) hxhost_dispose_list(names);
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the plug-in is still searching after " << kPatience.count() << " s";
      return nullptr;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
}

std::vector<std::string> TakeList(HxHandle list) {
  if (list == nullptr) return {};
  std::vector<std::string> rendered = RenderList(list);
  hxhost_dispose_list(list);
  return rendered;
}

std::vector<std::string> BindAndSettle(const Plugin &plugin, HxVariantRef properties) {
  HxHandle first = nullptr;
  const int32_t status = RequestUntilBound(plugin, &first, properties, kModeFull);
  if (status != kOk) ADD_FAILURE() << "the first bound request answered " << status;
  TakeList(first);
  return TakeList(RequestUntilSettled(plugin, properties));
}

bool WaitUntil(const std::function<bool()> &done, const char *what) {
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "gave up waiting after " << kPatience.count() << " s: " << what;
      return false;
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

DevicesFile::DevicesFile(const std::vector<std::string> &lines) {
  char pattern[] = "/tmp/velmora-devices-XXXXXX";
  const char *dir = mkdtemp(pattern);
  if (dir == nullptr) {
    ADD_FAILURE() << "mkdtemp failed";
    std::abort();
  }
  dir_ = dir;
  path_ = dir_ + "/devices.txt";
  Write(lines);
}

DevicesFile::~DevicesFile() {
  std::remove(path_.c_str());
  rmdir(dir_.c_str());
}

void DevicesFile::Write(const std::vector<std::string> &lines) {
  // Written aside and renamed into place, so a reader never sees half a file
  // and the stand-in sees a new file (new inode) every time.
  const std::string staging = path_ + ".new";
  {
    std::ofstream out(staging, std::ios::trunc);
    for (const std::string &line : lines) out << line << '\n';
  }
  std::rename(staging.c_str(), path_.c_str());
}

StderrCapture::StderrCapture() {
  char pattern[] = "/tmp/velmora-stderr-XXXXXX";
  const int fd = mkstemp(pattern);
  path_ = pattern;
  std::fflush(stderr);
  saved_ = dup(STDERR_FILENO);
  dup2(fd, STDERR_FILENO);
  close(fd);
}

StderrCapture::~StderrCapture() {
  std::fflush(stderr);
  dup2(saved_, STDERR_FILENO);
  close(saved_);
  std::remove(path_.c_str());
}

std::string StderrCapture::Text() {
  std::fflush(stderr);
  std::ifstream in(path_);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace hxtest
