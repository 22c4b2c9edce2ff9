// What is on the wire: whether a console answers the discovery broadcast on
// the port, from which address, and (with --fetch) what image it serves.
// The image is only read, never saved or run.
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "loader/console_protocol.h"
#include "tools/probe/console_exchange.h"
#include "tools/probe/pe_image.h"
#include "tools/probe/probe_options.h"
#include "loader/processor_api.h"
#include "tools/probe/stored_port.h"

namespace {

constexpr int kFound = 0;
constexpr int kNotFound = 1;
constexpr int kUsageError = 2;

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char byte[4];
  for (size_t i = 0; i < bytes.size(); ++i) {
    std::snprintf(byte, sizeof(byte), i ? " %02x" : "%02x", bytes[i]);
    text += byte;
  }
  return text;
}

// Prints what the image is; true when the loader would bind all of it.
bool ReportImage(const std::vector<uint8_t>& image) {
  PeImage pe;
  if (!ReadPeImage(image.data(), image.size(), &pe)) {
    std::printf("image %zu bytes: not a Windows DLL\n", image.size());
    return false;
  }
  std::string missing;
  int found = 0;
  for (const char* name : kProcessorEntryPoints) {
    if (std::find(pe.exportNames.begin(), pe.exportNames.end(), name) != pe.exportNames.end()) {
      ++found;
    } else {
      missing += (missing.empty() ? "" : ", ") + std::string(name);
    }
  }
  std::printf("image %zu bytes, %s, %d of %d entry points\n", image.size(), MachineName(pe.machine).c_str(), found,
              kProcessorEntryPointCount);
  if (!missing.empty()) std::printf("missing: %s\n", missing.c_str());
  return missing.empty();
}

// Prints how the transfer went; true when the image is complete and whole.
bool ReportTransfer(const sockaddr_in& console, const Transfer& transfer) {
  switch (transfer.outcome) {
    case TransferOutcome::Complete:
      return ReportImage(transfer.image);
    case TransferOutcome::Stalled:
      std::printf("image transfer stalled after %zu bytes\n", transfer.image.size());
      return false;
    case TransferOutcome::TooLarge:
      std::printf("image transfer exceeded %zu bytes, more than the loader accepts\n", kImageBufferSize);
      return false;
    case TransferOutcome::ConnectFailed:
      std::printf("cannot connect to %s:%u: Winsock error %d\n", inet_ntoa(console.sin_addr), ntohs(console.sin_port),
                  transfer.error);
      return false;
    case TransferOutcome::Failed:
      std::printf("image transfer failed after %zu bytes: Winsock error %d\n", transfer.image.size(), transfer.error);
      return false;
  }
  return false;
}

int Probe(uint16_t port, const ProbeOptions& options) {
  bool answered = false;
  sockaddr_in console{};
  auto onSend = [](const DiscoverySend& send) {
    const std::string to = send.limited ? "255.255.255.255" : DottedAddress(send.target.broadcast);
    const std::string via = send.limited ? "" : " via " + DescribeInterface(send.target.address, send.target.prefix);
    if (send.error == 0) {
      std::printf("sent to %s%s\n", to.c_str(), via.c_str());
    } else {
      std::printf("cannot send to %s%s: Winsock error %d\n", to.c_str(), via.c_str(), send.error);
    }
  };
  int error = Discover(port, options.timeoutMs, onSend, [&](const Datagram& datagram) {
    if (!IsDiscoveryReply(datagram)) {
      std::printf("ignored reply from %s: %s\n", inet_ntoa(datagram.sender.sin_addr), Hex(datagram.bytes).c_str());
      return;
    }
    // As the loader does: the console's address, with our port.
    sockaddr_in address = datagram.sender;
    address.sin_port = htons(port);
    const std::string via = datagram.arrivalKnown ? DescribeInterface(datagram.arrivalAddress, datagram.arrivalPrefix)
                                                  : std::string("an unlisted interface");
    std::printf("console %s:%u replied in %u ms via %s\n", inet_ntoa(address.sin_addr), port, datagram.elapsedMs,
                via.c_str());
    if (!answered) console = address;
    answered = true;
  });
  if (error != 0) {
    std::printf("discovery on port %u failed: Winsock error %d\n", port, error);
    return kNotFound;
  }
  if (!answered) {
    std::printf("no console answered on port %u within %u ms\n", port, options.timeoutMs);
    return kNotFound;
  }
  if (!options.fetch) return kFound;
  return ReportTransfer(console, FetchImage(console, options.timeoutMs)) ? kFound : kNotFound;
}

}  // namespace

int main(int argc, char** argv) {
  ProbeOptions options;
  if (!ParseProbeOptions(argc, argv, &options)) return kUsageError;
  const uint32_t port = options.port != 0 ? options.port : StoredPort();
  if (!IsPortNumber(port)) {
    std::fprintf(stderr, "ixa_probe: the stored port %u is no port number; give one with --port\n", port);
    return kUsageError;
  }
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    std::printf("Windows Sockets 2 is not available\n");
    return kNotFound;
  }
  const int result = Probe(static_cast<uint16_t>(port), options);
  std::fflush(stdout);
  WSACleanup();
  return result;
}
