// Opening, saving, reloading and closing a store file, the change test, and
// the problem record that says why a file was refused or a save failed.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/absolute_path.h"
#include "config/backend.h"
#include "config/file_identity.h"
#include "config/store_api/store_api.h"
#include "config/store_file/file_system.h"

namespace velmora {
namespace store_api {
namespace {

using store::FileFailure;
using store::FileStep;
using store::ParseError;

// Copies as much of `text` as fits, always terminated: the record's strings
// are cut to fit, by design.
void Copy(char *to, size_t size, const char *text) {
  const size_t length = text != nullptr ? strnlen(text, size - 1) : 0;
  if (length > 0) memcpy(to, text, length);
  to[length] = '\0';
}

// Starts a problem record afresh: status 0, empty strings.
void Clear(velmora_store_problem *problem) {
  if (problem == nullptr) return;
  problem->status = kIviIniSuccess;
  problem->line = 0;
  problem->error_number = 0;
  problem->step[0] = problem->path[0] = problem->message[0] = '\0';
}

// A failure that is neither a refused line nor a file operation: the status
// and a sentence, the status's meaning when none is given.
int32_t Refuse(velmora_store_problem *problem, int32_t status, const char *message = nullptr) {
  if (problem != nullptr) {
    Clear(problem);
    problem->status = status;
    Copy(problem->message, sizeof problem->message,
         message != nullptr ? message : velmora_store_status_text(status));
  }
  return status;
}

// A failed file operation: its step, path and errno.
int32_t RefuseFile(velmora_store_problem *problem, int32_t status, const FileFailure &failure) {
  if (failure.step == FileStep::kNone) return Refuse(problem, status);
  char message[sizeof failure.path + 160];
  store::DescribeFailure(failure, failure.path, message, sizeof message);
  Refuse(problem, status, message);
  if (problem != nullptr) {
    problem->error_number = failure.error;
    Copy(problem->step, sizeof problem->step, store::StepName(failure.step));
    Copy(problem->path, sizeof problem->path, failure.path);
  }
  return status;
}

// Why loading failed: the parser's line and sentence, and the file
// operation when one failed.
int32_t RefuseLoad(velmora_store_problem *problem, int32_t status, const ParseError &error,
                   const Store &store) {
  if (store.LastFailure().step != FileStep::kNone) {
    return RefuseFile(problem, status, store.LastFailure());
  }
  Refuse(problem, status, error.message[0] != '\0' ? error.message : nullptr);
  if (problem != nullptr) problem->line = error.line;
  return status;
}

// The file `path` names, or the default store for a null or empty one, made
// absolute from the working folder of this moment (links are not followed:
// a link stays the name the user chose), as libvelmora places its files.
int32_t Locate(const char *path, char *location, velmora_store_problem *problem) {
  char chosen[kPathCapacity] = "";
  const size_t length = path != nullptr ? strnlen(path, kIviIniMaxPathLength + 1) : 0;
  if (length > kIviIniMaxPathLength) return Refuse(problem, kIviIniPathTooLong);
  memcpy(chosen, path != nullptr ? path : "", length);
  const int32_t attributes[] = {kStoreDefaultLocation, kStoreFallbackLocation};
  for (const int32_t attribute : attributes) {
    if (chosen[0] != '\0') break;
    const int32_t status = GetStoreString(nullptr, attribute, kPathCapacity, chosen);
    if (status < 0) return Refuse(problem, status);
  }
  const int32_t located = AbsolutePath(chosen, location, PATH_MAX);
  if (located != kIviIniSuccess) {
    const int error = errno;
    Refuse(problem, located,
           "the working folder cannot be named, or is too deep to join the path to");
    if (problem != nullptr) {
      problem->error_number = error;
      Copy(problem->path, sizeof problem->path, chosen);
    }
  }
  return located;
}

// A new store loaded from `location`, or null with the problem reported.
int32_t Load(const char *location, Store **loaded, velmora_store_problem *problem) {
  Store *store = Store::Create();
  if (store == nullptr) return Refuse(problem, kIviIniOutOfMemory);
  ParseError error;
  error.message[0] = '\0';
  error.line = 0;
  const int32_t status = store->LoadFile(location, &error);
  if (status != kIviIniSuccess) {
    RefuseLoad(problem, status, error, *store);
    Store::Destroy(store);
    return status;
  }
  *loaded = store;
  return kIviIniSuccess;
}

int32_t Open(const char *path, velmora_store **out, velmora_store_problem *problem) {
  Clear(problem);
  if (out == nullptr) return Refuse(problem, kIviIniNullPointer);
  *out = nullptr;
  auto *s = static_cast<velmora_store *>(calloc(1, sizeof(velmora_store)));
  if (s == nullptr) return Refuse(problem, kIviIniOutOfMemory);
  int32_t status = Locate(path, s->location, problem);
  if (status == kIviIniSuccess) status = Load(s->location, &s->store, problem);
  if (status != kIviIniSuccess) {
    free(s);
    return status;
  }
  *out = s;
  return kIviIniSuccess;
}

int32_t Save(velmora_store *s, velmora_store_problem *problem) {
  Clear(problem);
  const int32_t checked = CheckStore(s);
  if (checked != kIviIniSuccess) return Refuse(problem, checked);
  const int32_t status = s->store->Save(s->location);
  if (status != kIviIniSuccess) return RefuseFile(problem, status, s->store->LastFailure());
  return kIviIniSuccess;
}

int32_t Reload(velmora_store *s, velmora_store_problem *problem) {
  Clear(problem);
  const int32_t checked = CheckStore(s);
  if (checked != kIviIniSuccess) return Refuse(problem, checked);
  // The old store goes only once the new one has loaded.
  Store *fresh = nullptr;
  const int32_t status = Load(s->location, &fresh, problem);
  if (status != kIviIniSuccess) return status;
  Store::Destroy(s->store);
  s->store = fresh;
  return kIviIniSuccess;
}

int32_t Changed(const velmora_store *s, int *changed) {
  const int32_t status = CheckStore(s);
  if (status != kIviIniSuccess) return status;
  if (changed == nullptr) return kIviIniNullPointer;
  // One stat: a file that is gone reads as changed.
  FileIdentity loaded;
  struct stat info;
  const bool same = s->store->FileIdentityOf(&loaded) && stat(s->location, &info) == 0 &&
                    SameIdentity(IdentityOf(info), loaded);
  *changed = same ? 0 : 1;
  return kIviIniSuccess;
}

}  // namespace

int32_t CheckStore(const velmora_store *s) {
  return s != nullptr ? kIviIniSuccess : kIviIniInvalidHandle;
}

}  // namespace store_api
}  // namespace velmora

extern "C" {

int32_t velmora_store_open(const char *path, velmora_store **store,
                           velmora_store_problem *problem) {
  return velmora::store_api::Open(path, store, problem);
}

void velmora_store_close(velmora_store *store) {
  if (store == nullptr) return;
  velmora::store::Store::Destroy(store->store);
  free(store);
}

int32_t velmora_store_save(velmora_store *store, velmora_store_problem *problem) {
  return velmora::store_api::Save(store, problem);
}

int32_t velmora_store_reload(velmora_store *store, velmora_store_problem *problem) {
  return velmora::store_api::Reload(store, problem);
}

int32_t velmora_store_changed(const velmora_store *store, int *changed) {
  return velmora::store_api::Changed(store, changed);
}

const char *velmora_store_path(const velmora_store *store) {
  return store != nullptr ? store->location : nullptr;
}

}  // extern "C"
