// A library that exports the plug-in's 19 IviIni_* names with answers of its
// own, to stand beside the plug-in in one process: every function answers
// kDecoyAnswer and marks every output it is given, so that a call that lands
// here instead of in the plug-in cannot go unnoticed.
#include <cstdint>
#include <cstring>

#define DECOY_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int32_t kDecoyAnswer = -7777;
constexpr int32_t kDecoyCount = 4242;
const char kDecoyText[] = "decoy";

int32_t MarkText(char *buffer) {
  if (buffer != nullptr) std::memcpy(buffer, kDecoyText, sizeof kDecoyText);
  return kDecoyAnswer;
}

int32_t MarkCount(int32_t *count) {
  if (count != nullptr) *count = kDecoyCount;
  return kDecoyAnswer;
}

}  // namespace

DECOY_EXPORT int32_t IviIni_OpenIniFile(const char *, void **handle) {
  if (handle != nullptr) *handle = nullptr;
  return kDecoyAnswer;
}
DECOY_EXPORT int32_t IviIni_CloseIniFile(void *, uint8_t) {
  return kDecoyAnswer;
}
DECOY_EXPORT int32_t IviIni_ConfigurationChanged(void *, uint8_t *changed) {
  if (changed != nullptr) *changed = 0xDC;
  return kDecoyAnswer;
}
DECOY_EXPORT int32_t IviIni_ReloadConfiguration(void *) {
  return kDecoyAnswer;
}
DECOY_EXPORT int32_t IviIni_GetNumberOfLogicalNames(void *, int32_t *count) {
  return MarkCount(count);
}
DECOY_EXPORT int32_t IviIni_GetNthLogicalName(void *, uint32_t, const char **name) {
  if (name != nullptr) *name = kDecoyText;
  return kDecoyAnswer;
}
DECOY_EXPORT int32_t IviIni_GetLogicalNameVI(void *, const char *, char *buffer, uint32_t) {
  return MarkText(buffer);
}
DECOY_EXPORT int32_t IviIni_GetVIDriver(void *, const char *, char *buffer, uint32_t) {
  return MarkText(buffer);
}
DECOY_EXPORT int32_t IviIni_GetDriverClass(void *, const char *, char *buffer, uint32_t) {
  return MarkText(buffer);
}
DECOY_EXPORT int32_t IviIni_GetDriverClassCount(void *, const char *, int32_t *count) {
  return MarkCount(count);
}
DECOY_EXPORT int32_t IviIni_GetDriverClassByIndex(void *, const char *, int32_t, char *buffer,
                                                  uint32_t) {
  return MarkText(buffer);
}
// Left out of the build that stands for a configuration library missing
// one of its entries.
#ifndef DECOY_WITHOUT_DRIVER_PREFIX
DECOY_EXPORT int32_t IviIni_GetDriverPrefix(void *, const char *, char *buffer, uint32_t) {
  return MarkText(buffer);
}
#endif
DECOY_EXPORT int32_t IviIni_GetNumberOfVisaNames(int32_t *count, char *buffer, uint32_t *list) {
  if (list != nullptr) *list = static_cast<uint32_t>(kDecoyCount);
  MarkText(buffer);
  return MarkCount(count);
}
DECOY_EXPORT int32_t IviIni_GetNextVisaName(uint32_t, char *buffer) {
  return MarkText(buffer);
}
DECOY_EXPORT int32_t IviIni_CloseVisaNameList(uint32_t) {
  return kDecoyAnswer;
}
DECOY_EXPORT int32_t IviIni_GetNumberOfModularInstruments(void *, int32_t *count) {
  return MarkCount(count);
}
DECOY_EXPORT int32_t IviIni_GetModularInstrumentName(void *, uint32_t, char *buffer) {
  return MarkText(buffer);
}
DECOY_EXPORT int32_t IviIni_GetModularInstrumentClass(void *, uint32_t, char *buffer) {
  return MarkText(buffer);
}
DECOY_EXPORT int32_t IviIni_GetModularInstrumentPrefix(void *, uint32_t, char *buffer) {
  return MarkText(buffer);
}
