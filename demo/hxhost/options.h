// Command line of hxhost.
#ifndef VELMORA_DEMO_HXHOST_OPTIONS_H
#define VELMORA_DEMO_HXHOST_OPTIONS_H

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace hxhost {

struct Options {
  std::string plugin;          // path of libvelmora_hx.so
  std::string devices;         // devices file for the discovery library
  std::string sessions;        // open-sessions file; empty: none
  std::string store;           // configuration store to bind; empty: none
  std::string configLibrary;   // the configuration library that reads it
  std::string visa;            // VISA resources file to bind; empty: none
  std::string visaLibrary;     // the VISA library that serves it
  uint32_t displayFilter = 0x3000;
  std::optional<std::string> typeClass;
  uint32_t mode = 0;           // refresh mode of the first request
  bool wait = false;
  bool json = false;
  bool watch = false;
  uint32_t watchSeconds = 2;
  uint32_t watchRounds = 0;    // 0: until interrupted
  uint32_t discoveryDelayMs = 400;
  bool trace = false;         // show the plug-in's debug trace
  bool help = false;
};

// Either the options or a one-line error message.
using ParseResult = std::variant<Options, std::string>;

ParseResult ParseOptions(int argc, char **argv, const Options &defaults);

// The --help text.
std::string Usage(const Options &defaults);

}  // namespace hxhost

#endif
