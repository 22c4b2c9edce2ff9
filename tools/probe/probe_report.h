#pragma once

// What ixa_probe --report adds around its discovery round, for a technician
// to send to support: versions, the PC's networks, the stored settings and
// policy, and the end of the log file.

// Before the discovery: the versions, the Windows version, every IPv4
// interface and the route of 255.255.255.255, the settings and the policy.
void PrintReportHead();
// After it: the last lines of the log file.
void PrintReportTail();
