#include "options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "velmora/velmora_hx.h"

namespace hxhost {
namespace {

// Parses an unsigned 32-bit number in decimal, or hex with 0x.
std::optional<uint32_t> ParseNumber(const char *text) {
  if (text == nullptr || *text == '\0' || *text == '-') return std::nullopt;
  errno = 0;
  char *end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(value);
}

// Only the plug-in's three refresh modes: any other number would be ignored
// by the first request (which always runs as a full refresh) and then
// overridden by --wait and --watch, which ask in "changed" mode.
std::optional<uint32_t> ParseMode(std::string_view text) {
  if (text == "changed" || text == "0") return VELMORA_HX_REFRESH_CHANGED;
  if (text == "full" || text == "1") return VELMORA_HX_REFRESH_FULL;
  if (text == "cached" || text == "2") return VELMORA_HX_CACHED_ONLY;
  return std::nullopt;
}

}  // namespace

ParseResult ParseOptions(int argc, char **argv, const Options &defaults) {
  Options options = defaults;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    // Options taking a value accept "--name value" and "--name=value".
    std::string_view name = arg;
    std::optional<std::string> inlineValue;
    if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = std::string(arg.substr(eq + 1));
    }
    auto value = [&](std::string *out) -> std::optional<std::string> {
      if (inlineValue) {
        *out = *inlineValue;
        return std::nullopt;
      }
      if (i + 1 >= argc) return "option " + std::string(name) + " needs a value";
      *out = argv[++i];
      return std::nullopt;
    };
    auto number = [&](uint32_t *out) -> std::optional<std::string> {
      std::string text;
      if (auto error = value(&text)) return error;
      auto parsed = ParseNumber(text.c_str());
      if (!parsed) return "option " + std::string(name) + " needs a number, not '" + text + "'";
      *out = *parsed;
      return std::nullopt;
    };

    std::optional<std::string> error;
    if (name == "--help" || name == "-h") {
      options.help = true;
    } else if (name == "--wait") {
      options.wait = true;
    } else if (name == "--json") {
      options.json = true;
    } else if (name == "--trace") {
      options.trace = true;
    } else if (name == "--watch") {
      options.watch = true;
    } else if (name == "--plugin") {
      error = value(&options.plugin);
    } else if (name == "--devices") {
      error = value(&options.devices);
    } else if (name == "--sessions") {
      error = value(&options.sessions);
    } else if (name == "--store") {
      error = value(&options.store);
    } else if (name == "--config-library") {
      error = value(&options.configLibrary);
    } else if (name == "--visa") {
      error = value(&options.visa);
    } else if (name == "--visa-library") {
      error = value(&options.visaLibrary);
    } else if (name == "--display-filter") {
      error = number(&options.displayFilter);
    } else if (name == "--type-class") {
      std::string text;
      error = value(&text);
      options.typeClass = text;
    } else if (name == "--mode") {
      std::string text;
      error = value(&text);
      if (!error) {
        auto mode = ParseMode(text);
        if (!mode) error = "unknown mode '" + text + "' (use changed, full or cached, or 0, 1 or 2)";
        else options.mode = *mode;
      }
    } else if (name == "--interval") {
      error = number(&options.watchSeconds);
      if (!error && options.watchSeconds == 0) error = "option --interval needs at least 1";
    } else if (name == "--rounds") {
      error = number(&options.watchRounds);
    } else if (name == "--discovery-delay") {
      error = number(&options.discoveryDelayMs);
    } else {
      error = "unknown option '" + std::string(arg) + "'";
    }
    if (error) return *error;
  }
  return options;
}

std::string Usage(const Options &defaults) {
  return "usage: hxhost [options]\n"
         "\n"
         "Loads libvelmora_hx.so the way the Hexaflow host does and asks it for the\n"
         "names of an \"IVI\" I/O-name control. The installed modular instruments come\n"
         "from a devices file read by the discovery stand-in (one device per line:\n"
         "'name | class | prefix'). With --store, the IVI logical names of a\n"
         "configuration store, read by libvelmora's file store, which the plug-in\n"
         "binds as its configuration library, are sorted together with the\n"
         "instrument names in the first list; with --visa, the VISA resource names of\n"
         "a resources file follow in a second list, served by the VISA stand-in,\n"
         "which the plug-in binds as its VISA library.\n"
         "\n"
         "Each list ends with two entries that have no name, printed as\n"
         "'(host item 3)' and '(host item 2)': the plug-in only numbers them (its\n"
         "\"id\" attribute) and the host puts its own items there, for instance to\n"
         "browse for or refresh names. A line of dashes is a separator between the\n"
         "instrument names, the VISA names and the \"<Searching for more>\" entry.\n"
         "\n"
         "options:\n"
         "  --devices FILE         devices file (default: " + defaults.devices + ")\n"
         "  --sessions FILE        sessions the host holds open, one per line:\n"
         "                         'name | name it was opened from'\n"
         "  --store FILE           list the logical names of this store: sets\n"
         "                         VELMORA_STORE=FILE and VELMORA_HX_CONFIG_LIBRARY to\n"
         "                         the configuration library before the plug-in loads\n"
         "  --config-library PATH  the configuration library --store binds (default: " +
         defaults.configLibrary + ")\n"
         "  --visa FILE            list the VISA resources of this file (one per line):\n"
         "                         sets VELMORA_HX_VISA_LIBRARY to the VISA library and\n"
         "                         VISA_STANDIN_RESOURCES=FILE before the plug-in loads\n"
         "  --visa-library PATH    the VISA library --visa binds (default: " +
         defaults.visaLibrary + ")\n"
         "  --display-filter N     the control's \"displayFilter\" (default 0x3000:\n"
         "                         0x1000 IVI and instrument names, 0x2000 VISA names)\n"
         "  --type-class TEXT      the control's \"typeClass\" (e.g. acmeScope)\n"
         "  --mode MODE            changed (0, default), full (1) or cached (2); the\n"
         "                         first request after binding always runs as full\n"
         "  --wait                 ask again until the list is complete (no\n"
         "                         \"<Searching for more>\")\n"
         "  --watch                keep asking every --interval seconds and show what\n"
         "                         changed (edit the devices file or the store\n"
         "                         meanwhile); discovery reruns at most every 20 s\n"
         "  --interval SECONDS     pause between --watch rounds (default 2)\n"
         "  --rounds N             stop --watch after N rounds (default: until Ctrl-C)\n"
         "  --json                 print the result as JSON\n"
         "  --discovery-delay MS   how long the simulated discovery takes (default " +
         std::to_string(defaults.discoveryDelayMs) + ")\n"
         "  --trace                show the plug-in's debug trace on standard error;\n"
         "                         its texts carry no line ends of their own (one\n"
         "                         request's texts run together), so hxhost ends the\n"
         "                         line after each request\n"
         "  --plugin PATH          the plug-in to load (default: " + defaults.plugin + ")\n"
         "  --help                 this text\n"
         "\n"
         "exit status: 0 when the plug-in answered 0, 1 for any other answer, 2 for\n"
         "bad input.\n";
}

}  // namespace hxhost
