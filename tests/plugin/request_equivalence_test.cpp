// A name request answers exactly what a plain reference kept here answers:
// take the discovery list, filter it, find each open session's origin, fold
// the sessions in by name ignoring case, sort. Random installations (with
// names equal ignoring case), random open sessions (named like a device in
// another letter case, under names of their own, opened from nothing, or
// without a name), random control filters, in every refresh mode. The
// plug-in's code is linked directly and driven through GetIOControlNames.
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hxhost_standin.h"
#include "plugin/lists/names.h"
#include "plugin_harness.h"
#include "qxmodinst_standin.h"
#include "velmora/velmora_hx.h"

namespace hxtest {
namespace {

struct Device {
  std::string name;
  std::string prefix;
};

struct OpenSession {
  std::optional<std::string> name;
  std::optional<std::string> orig;
};

struct Control {
  std::optional<uint32_t> displayFilter;
  std::optional<std::string> typeClass;
};

struct Entry {
  std::string name;
  bool open;
  std::string cls;
  std::string prefix;
};

std::string Recased(std::string text, std::mt19937 &random) {
  for (char &c : text) {
    if (random() % 3 == 0) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    if (random() % 3 == 0) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

// Short names from a few stems, with numbers, leading zeros, separators and
// letter case varied, so that many collide ignoring case and many sort by
// the finer rules.
std::string RandomName(std::mt19937 &random) {
  static const char *const kStems[] = {"Rack", "rack", "Meter", "Bench3.Scope", "scope_", "Dmm"};
  static const char *const kTails[] = {"", "Slot2", "Slot10", ".ch2", "a", "_A"};
  std::string name = kStems[random() % 6];
  name += std::string(random() % 3, '0') + std::to_string(random() % 12);
  name += kTails[random() % 6];
  return Recased(name, random);
}

// The plain reference: the result of one request, rendered as RenderList
// renders it.
Rendered Reference(const std::vector<Device> &devices, const std::vector<OpenSession> &sessions,
                   const Control &control, bool searching) {
  // The discovery list as its worker built it; left out while it runs.
  std::vector<Entry> list;
  if (!searching) {
    for (const Device &d : devices) list.push_back(Entry{d.name, false, d.prefix, d.prefix});
  }
  const uint32_t bits = control.displayFilter.value_or(0);
  const std::string wanted = control.typeClass.value_or("");
  const auto shows = [&](const Entry &e) {
    if ((bits & 0x1000) == 0) return false;
    if (wanted.empty() || strcasecmp(wanted.c_str(), "Ivi") == 0) return true;
    return strcasecmp(e.cls.c_str(), wanted.c_str()) == 0 ||
           strcasecmp(e.prefix.c_str(), wanted.c_str()) == 0;
  };

  // Each session takes the class and prefix of the first entry it was
  // opened from; the matched ones pass the filters, the others do not.
  std::vector<Entry> matched;
  std::vector<Entry> unmatched;
  for (const OpenSession &s : sessions) {
    if (!s.name) continue;
    const Entry *from = nullptr;
    for (const Entry &e : list) {
      if (s.orig && strcasecmp(e.name.c_str(), s.orig->c_str()) == 0) {
        from = &e;
        break;
      }
    }
    if (from != nullptr) {
      matched.push_back(Entry{*s.name, true, from->cls, from->prefix});
    } else {
      unmatched.push_back(Entry{*s.name, true, "", ""});
    }
  }
  std::vector<Entry> m;
  for (const Entry &e : list) {
    if (shows(e)) m.push_back(e);
  }
  std::vector<Entry> shownSessions;
  for (const Entry &e : matched) {
    if (shows(e)) shownSessions.push_back(e);
  }
  shownSessions.insert(shownSessions.end(), unmatched.begin(), unmatched.end());
  for (const Entry &s : shownSessions) {
    bool found = false;
    for (Entry &e : m) {
      if (strcasecmp(e.name.c_str(), s.name.c_str()) == 0) {
        e.open = true;
        found = true;
      }
    }
    if (!found) m.push_back(s);
  }
  std::sort(m.begin(), m.end(), [](const Entry &a, const Entry &b) {
    return hx::CompareNames(a.name.c_str(), b.name.c_str()) < 0;
  });

  Rendered rendered;
  for (const Entry &e : m) rendered.push_back(e.name + (e.open ? " +g" : ""));
  if (!m.empty()) rendered.push_back(searching ? "#6" : "#-1");
  if (searching) {
    rendered.push_back(kMarker);
    rendered.push_back("#-1");
  }
  rendered.push_back("#3");
  rendered.push_back("#2");
  return rendered;
}

// Names that compare equal keep no particular order: each run of them is
// put in byte order, in both the answer and the reference.
Rendered Normalised(Rendered rendered) {
  const auto nameOf = [](const std::string &entry) {
    return entry.size() > 3 && entry.compare(entry.size() - 3, 3, " +g") == 0
               ? entry.substr(0, entry.size() - 3)
               : entry;
  };
  for (size_t i = 0; i < rendered.size();) {
    size_t j = i + 1;
    while (j < rendered.size() && rendered[i][0] != '#' && rendered[j][0] != '#' &&
           hx::CompareNames(nameOf(rendered[i]).c_str(), nameOf(rendered[j]).c_str()) == 0) {
      ++j;
    }
    std::sort(rendered.begin() + static_cast<std::ptrdiff_t>(i),
              rendered.begin() + static_cast<std::ptrdiff_t>(j));
    i = j;
  }
  return rendered;
}

Control RandomControl(const std::vector<Device> &devices, std::mt19937 &random) {
  static const std::optional<uint32_t> kBits[] = {0x1000u, 0x3000u, 0x2000u, std::nullopt};
  Control control{kBits[random() % 4], std::nullopt};
  switch (random() % 5) {
    case 0:
      control.typeClass = "";
      break;
    case 1:
      control.typeClass = Recased("ivi", random);
      break;
    case 2:
      control.typeClass = "nothing";
      break;
    case 3:
      if (!devices.empty())
        control.typeClass = Recased(devices[random() % devices.size()].prefix, random);
      break;
    default:
      break;
  }
  return control;
}

class RequestEquivalence : public testing::Test {
 protected:
  RequestEquivalence() {
    linked_.GetIOControlNames = GetIOControlNames;
    qxmodinst_standin_set_devices_file(file_.path().c_str());
  }

  Rendered Ask(const Control &control, uint32_t mode) {
    Properties properties(control.displayFilter, control.typeClass);
    return RequestRendered(linked_, properties.get(), mode);
  }

  Plugin linked_{};
  DevicesFile file_;
};

TEST_F(RequestEquivalence, AnswersWhatThePlainReferenceAnswers) {
  std::mt19937 random(20261208u);
  static const char *const kPrefixes[] = {"acmeScope", "acmeDmm", "zetaFgen", "ACMESCOPE", "x"};
  Properties everything;
  HxHandle first = nullptr;
  ASSERT_EQ(kOk, RequestUntilBound(linked_, &first, everything.get(), kModeFull));
  TakeList(first);
  TakeList(RequestUntilSettled(linked_, everything.get()));

  int compared = 0;
  for (int round = 0; round < 12; ++round) {
    std::vector<Device> devices;
    std::vector<std::string> lines;
    const size_t deviceCount = random() % 40;
    for (size_t i = 0; i < deviceCount; ++i) {
      // Half of them share a name, ignoring case, with an earlier device.
      const std::string name = devices.empty() || random() % 2 == 0
                                   ? RandomName(random)
                                   : Recased(devices[random() % devices.size()].name, random);
      devices.push_back(Device{name, kPrefixes[random() % 5]});
      lines.push_back(devices.back().name + " | class | " + devices.back().prefix);
    }
    std::vector<OpenSession> sessions;
    const size_t sessionCount = random() % 16;
    for (size_t i = 0; i < sessionCount; ++i) {
      OpenSession s;
      const auto pick = [&]() -> std::string {
        return devices.empty() ? RandomName(random)
                               : Recased(devices[random() % devices.size()].name, random);
      };
      switch (random() % 10) {
        case 0:
          break;  // no name: nothing to show
        case 1:
        case 2:
        case 3:
          s.name = pick();
          break;
        default:
          s.name = RandomName(random);
          break;
      }
      switch (random() % 5) {
        case 0:
          break;
        case 1:
          s.orig = "nowhere";
          break;
        default:
          s.orig = pick();
          break;
      }
      sessions.push_back(s);
    }
    hxhost_sessions_clear();
    for (const OpenSession &s : sessions) {
      hxhost_sessions_add(s.name ? s.name->c_str() : nullptr, s.orig ? s.orig->c_str() : nullptr);
    }

    // A full refresh while discovery is held in progress: the discovery list
    // is left out and the answer is searching.
    file_.Write(lines);
    {
      qxmodinst_standin_hold_session_calls(1);
      const Control control = RandomControl(devices, random);
      EXPECT_EQ(Normalised(Reference(devices, sessions, control, true)),
                Normalised(Ask(control, kModeFull)))
          << "round " << round << ", full refresh while searching";
      qxmodinst_standin_hold_session_calls(0);
    }
    TakeList(RequestUntilSettled(linked_, everything.get()));

    for (int i = 0; i < 6; ++i) {
      const Control control = RandomControl(devices, random);
      const Rendered expected = Normalised(Reference(devices, sessions, control, false));
      for (const uint32_t mode : {kModeChanged, kModeCached}) {
        EXPECT_EQ(expected, Normalised(Ask(control, mode)))
            << "round " << round << ", mode " << mode;
        ++compared;
      }
    }
  }
  EXPECT_EQ(12 * 6 * 2, compared);
  EXPECT_EQ(0, hxhost_handles_outstanding());
}

}  // namespace
}  // namespace hxtest
