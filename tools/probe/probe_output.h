#pragma once

// The probe's report: one line per event, as text (the default) or as one
// JSON object per line (--json). Both carry the same fields; the text lines
// stay as they are, for the people and scripts that read them.
//
// JSON objects, one per event, "event" first:
//   {"event":"sent","to":"255.255.255.255"}
//   {"event":"sent","to":"192.168.1.255","via":"192.168.1.7/24"}
//   {"event":"send_failed","to":"192.168.1.255","via":"192.168.1.7/24","winsock_error":10051}
//   {"event":"reply","address":"192.168.1.20","port":6600,"ms":3,"via":"192.168.1.7/24"}
//   {"event":"ignored_reply","address":"192.168.1.20","bytes":"83 f9 b5"}
//   {"event":"no_answer","port":6600,"timeout_ms":5000}
//   {"event":"image","bytes":1013491,"machine":"i386","entry_points":16,"of":16}
//   {"event":"missing","names":["DisconnectFromNode"]}
//   {"event":"not_a_dll","bytes":110592}
//   {"event":"stalled","bytes":4096}
//   {"event":"too_large","limit":11534336}
//   {"event":"too_slow","bytes":4096,"limit_ms":60000}
//   {"event":"socket_error","stage":"discovery","port":6600,"winsock_error":10013}
//   {"event":"socket_error","stage":"connect","address":"192.168.1.20","port":6600,"winsock_error":10061}
//   {"event":"socket_error","stage":"transfer","bytes":512,"winsock_error":10054}
//   {"event":"socket_error","stage":"startup"}
// With --report, before the discovery and after it:
//   {"event":"report","probe_version":"1.2.0"}
//   {"event":"library","path":"C:\\...\\IxaLoader.dll","version":"1.2.0.0"}   (version "" when not found)
//   {"event":"windows","name":"Windows 7"}
//   {"event":"interface","name":"Ethernet","address":"10.77.0.1","prefix":24,"broadcast":"10.77.0.255","up":true,"discovery":true}
//   {"event":"broadcast_route","interface":"Ethernet","address":"10.77.0.1"}   (both "" when none)
//   {"event":"setting","name":"port","value":6600,"state":"stored"}   (state: stored, missing, unusable)
//   {"event":"patch_row","row":1,"dp":1,"universe":1,"enabled":true,"state":"stored"}
//   {"event":"policy","name":"AllowedConsoles","entries":["10.77.0.20"]}
//   {"event":"log","path":"C:\\...\\IxaLoader.log","lines":200}
//   {"event":"log_line","text":"..."}
// Fields are only ever added. "via" names the network by its interface
// address and prefix, as " via <address>/<prefix>" does in the text lines.

#include <cstddef>
#include <string>
#include <vector>

void SetJsonOutput(bool json);

// via is empty for the limited broadcast; error is 0 when the send went out.
void PrintSent(const std::string& to, const std::string& via, int error);
void PrintReply(const char* address, unsigned port, unsigned ms, const std::string& via);
void PrintIgnoredReply(const char* address, const std::string& hexBytes);
void PrintNoAnswer(unsigned port, unsigned timeoutMs);
void PrintDiscoveryFailed(unsigned port, int error);
void PrintImage(size_t bytes, const std::string& machine, int found, int total);
void PrintMissing(const std::vector<std::string>& names);
void PrintNotADll(size_t bytes);
void PrintStalled(size_t bytes);
void PrintTooLarge(size_t limit);
// The transfer's deadline passed with bytes received.
void PrintTooSlow(size_t bytes, unsigned limitMs);
void PrintConnectFailed(const char* address, unsigned port, int error);
void PrintTransferFailed(size_t bytes, int error);
void PrintNoWinsock();

// The report's own lines (--report).
void PrintReportStart(const char* probeVersion);
void PrintLibrary(const std::string& path, const std::string& version);
void PrintWindows(const std::string& name);
void PrintInterface(const std::string& name, const std::string& address, int prefix, const std::string& broadcast,
                    bool up, bool discovery);
void PrintBroadcastRoute(const std::string& name, const std::string& address);
// state: "stored", "missing", or "unusable" (another type, size or range).
void PrintSetting(const char* name, unsigned long long value, const char* state);
void PrintPatchRow(int row, long long dp, long long universe, bool enabled, const char* state);
void PrintPolicy(const char* name, const std::vector<std::string>& entries);
void PrintLogFile(const std::string& path, size_t lines);
void PrintLogLine(const std::string& text);

// For tests: the JSON form of a string, quotes included.
std::string JsonString(const std::string& text);
