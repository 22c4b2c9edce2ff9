#include "tools/probe/probe_options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// An hour: the probe's run time stays bounded by what it is given.
constexpr unsigned long kMaxTimeoutMs = 3600000;

// Digits only, from 1 to max.
bool ParseNumber(const char* text, unsigned long max, uint32_t* out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  unsigned long value = std::strtoul(text, &end, 10);
  if (errno != 0 || *end != '\0' || value == 0 || value > max) return false;
  *out = static_cast<uint32_t>(value);
  return true;
}

bool Refuse(const char* format, const char* text) {
  std::fprintf(stderr, "ixa_probe: ");
  std::fprintf(stderr, format, text ? text : "");
  std::fprintf(stderr, "\n");
  PrintProbeUsage(stderr);
  return false;
}

}  // namespace

void PrintProbeUsage(FILE* to) {
  std::fprintf(to,
               "usage: ixa_probe [--port N] [--timeout-ms N] [--fetch] [--json] [--report [FILE]]\n"
               "       ixa_probe --help | --version\n"
               "  --port N        discovery and transfer port (default: the stored port, or 6600)\n"
               "  --timeout-ms N  how long to listen for answers and to wait for image data (default 5000)\n"
               "                  (the whole image transfer ends after at most 12 times as long)\n"
               "  --fetch         also fetch the image from the first console that answered and check it\n"
               "  --json          one JSON object per line for each event, with the fields of its text line\n"
               "  --report [FILE] a report to send to support, into FILE or to standard output: versions,\n"
               "                  the PC's networks, the stored settings and policy, the discovery round\n"
               "                  and the last lines of the log file\n"
               "  --help          this text\n"
               "  --version       the probe's version\n"
               "exit code: 0 a console answered (with --fetch: and served a complete image with all\n"
               "entry points), 1 otherwise, 2 for a usage error\n");
}

bool ParseProbeOptions(int argc, char** argv, ProbeOptions* options) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--fetch") == 0) {
      options->fetch = true;
      continue;
    }
    if (std::strcmp(arg, "--json") == 0) {
      options->json = true;
      continue;
    }
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0) {
      options->help = true;
      continue;
    }
    if (std::strcmp(arg, "--version") == 0) {
      options->version = true;
      continue;
    }
    if (std::strcmp(arg, "--report") == 0) {
      options->report = true;
      if (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) options->reportFile = argv[++i];
      continue;
    }
    const char* value = i + 1 < argc ? argv[++i] : nullptr;
    if (std::strcmp(arg, "--port") == 0) {
      if (!ParseNumber(value, 65535, &options->port))
        return Refuse("--port needs a number from 1 to 65535, not '%s'", value);
    } else if (std::strcmp(arg, "--timeout-ms") == 0) {
      if (!ParseNumber(value, kMaxTimeoutMs, &options->timeoutMs)) {
        return Refuse("--timeout-ms needs milliseconds from 1 to 3600000, not '%s'", value);
      }
    } else {
      return Refuse("unknown argument '%s'", arg);
    }
  }
  return true;
}
