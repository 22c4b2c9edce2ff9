#pragma once

#include <cstdint>

// The port the loader on this machine would use: its stored "port" setting,
// or 6600 when there is none it could take.
uint32_t StoredPort();
