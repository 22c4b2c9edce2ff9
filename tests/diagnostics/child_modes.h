#pragma once

#include <vector>

// What this executable does when started as a child by a test.
struct ChildMode {
  const char* name;
  int (*run)();
};
const std::vector<ChildMode>& ChildModes();
