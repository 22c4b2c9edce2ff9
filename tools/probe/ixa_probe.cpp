// What is on the wire: whether a console answers the discovery broadcast on
// the port, from which address, and (with --fetch) what image it serves.
// The image is only read, never saved or run.
#include <winsock2.h>

#include <cstdio>
#include <string>
#include <vector>

#include "loader/console_protocol.h"
#include "loader/module_image.h"
#include "loader/processor_api.h"
#include "tools/probe/console_exchange.h"
#include "tools/probe/probe_options.h"
#include "tools/probe/probe_output.h"
#include "tools/probe/probe_report.h"
#include "tools/probe/stored_port.h"

using Ixa::DescribeInterface;
using Ixa::DottedAddress;
using Ixa::IsDiscoveryReply;
using Ixa::kImageBufferSize;
using Ixa::MachineName;
using Ixa::ModuleImage;
using Ixa::ReadModuleImage;

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
  ModuleImage module;
  if (!ReadModuleImage(image.data(), image.size(), &module)) {
    PrintNotADll(image.size());
    return false;
  }
  std::vector<std::string> missing;
  for (int e = 0; e < kProcessorEntryPointCount; ++e) {
    if ((module.entryPoints & (1u << e)) == 0) missing.push_back(kProcessorEntryPoints[e]);
  }
  PrintImage(image.size(), MachineName(module.machine), module.EntryPointCount(), kProcessorEntryPointCount);
  if (!missing.empty()) PrintMissing(missing);
  return missing.empty();
}

// Prints how the transfer went; true when the image is complete and whole.
bool ReportTransfer(const sockaddr_in& console, uint32_t timeoutMs, const Transfer& transfer) {
  switch (transfer.outcome) {
    case TransferOutcome::Complete:
      return ReportImage(transfer.image);
    case TransferOutcome::Stalled:
      PrintStalled(transfer.image.size());
      return false;
    case TransferOutcome::TooLarge:
      PrintTooLarge(kImageBufferSize);
      return false;
    case TransferOutcome::TooSlow:
      PrintTooSlow(transfer.image.size(), TransferDeadlineMs(timeoutMs));
      return false;
    case TransferOutcome::ConnectFailed:
      PrintConnectFailed(inet_ntoa(console.sin_addr), ntohs(console.sin_port), transfer.error);
      return false;
    case TransferOutcome::Failed:
      PrintTransferFailed(transfer.image.size(), transfer.error);
      return false;
  }
  return false;
}

int Probe(uint16_t port, const ProbeOptions& options) {
  bool answered = false;
  sockaddr_in console{};
  auto onSend = [](const DiscoverySend& send) {
    const std::string to = send.limited ? "255.255.255.255" : DottedAddress(send.target.broadcast);
    const std::string via = send.limited ? "" : DescribeInterface(send.target.address, send.target.prefix);
    PrintSent(to, via, send.error);
  };
  int error = Discover(port, options.timeoutMs, onSend, [&](const Datagram& datagram) {
    if (!IsDiscoveryReply(datagram)) {
      PrintIgnoredReply(inet_ntoa(datagram.sender.sin_addr), Hex(datagram.bytes));
      return;
    }
    // As the loader does: the console's address, with our port.
    sockaddr_in address = datagram.sender;
    address.sin_port = htons(port);
    const std::string via = datagram.arrivalKnown ? DescribeInterface(datagram.arrivalAddress, datagram.arrivalPrefix)
                                                  : std::string("an unlisted interface");
    PrintReply(inet_ntoa(address.sin_addr), port, datagram.elapsedMs, via);
    if (!answered) console = address;
    answered = true;
  });
  if (error != 0) {
    PrintDiscoveryFailed(port, error);
    return kNotFound;
  }
  if (!answered) {
    PrintNoAnswer(port, options.timeoutMs);
    return kNotFound;
  }
  if (!options.fetch) return kFound;
  return ReportTransfer(console, options.timeoutMs, FetchImage(console, options.timeoutMs)) ? kFound : kNotFound;
}

}  // namespace

int main(int argc, char** argv) {
  ProbeOptions options;
  if (!ParseProbeOptions(argc, argv, &options)) return kUsageError;
  if (options.help) {
    PrintProbeUsage(stdout);
    return kFound;
  }
  if (options.version) {
    std::printf("ixa_probe %s\n", IXA_VERSION);
    return kFound;
  }
  SetJsonOutput(options.json);
  if (!options.reportFile.empty() && std::freopen(options.reportFile.c_str(), "w", stdout) == nullptr) {
    std::fprintf(stderr, "ixa_probe: cannot write the report to %s\n", options.reportFile.c_str());
    return kUsageError;
  }
  if (options.report) PrintReportHead();
  const uint32_t port = options.port != 0 ? options.port : StoredPort();
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    PrintNoWinsock();
    return kNotFound;
  }
  const int result = Probe(static_cast<uint16_t>(port), options);
  if (options.report) PrintReportTail();
  std::fflush(stdout);
  WSACleanup();
  return result;
}
