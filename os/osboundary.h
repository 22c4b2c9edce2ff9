#pragma once

// Where our code meets the host, the system or the module (exports, the
// library entry point, thread procedures, window procedures, callbacks),
// nothing may be thrown across: the caller is foreign code that cannot
// catch it. Each such entry runs its body through Contain, which turns any
// exception into the entry's failure result and names it in the debugger
// output.

#include <exception>

#include "kellib/exception.h"

namespace Os {

void ReportContained(const char* where, const kel::exception* framework, const std::exception* standard) noexcept;

template <typename Result, typename Body>
Result Contain(const char* where, Result onFailure, Body&& body) noexcept {
  try {
    return body();
  } catch (const kel::exception& error) {
    ReportContained(where, &error, nullptr);
  } catch (const std::exception& error) {
    ReportContained(where, nullptr, &error);
  } catch (...) {
    ReportContained(where, nullptr, nullptr);
  }
  return onFailure;
}

template <typename Body>
void Contain(const char* where, Body&& body) noexcept {
  Contain(where, 0, [&] {
    body();
    return 0;
  });
}

}  // namespace Os
