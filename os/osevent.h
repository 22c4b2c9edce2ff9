#pragma once

namespace Os {

// Receives the end of the outermost pseudo-block scope.
class PseudoBlockHandler {
 public:
  virtual ~PseudoBlockHandler() = default;
  virtual void BlockEnded() = 0;
};

class PseudoBlockEvent {
 public:
  // Null when none is installed.
  static PseudoBlockHandler* GetHandler();
  // Replaces the handler (null removes it); returns the previous one.
  static PseudoBlockHandler* SetHandler(PseudoBlockHandler* handler);
};

// Marks a scope that blocks while a fatal report is shown. Scopes nest; the
// end of the outermost one notifies the handler, and is a trap when there is
// none. Only the fatal-report path opens one, so the count needs no lock.
class PseudoBlockWait {
 public:
  PseudoBlockWait();
  virtual ~PseudoBlockWait();
  PseudoBlockWait(const PseudoBlockWait&) = delete;
  PseudoBlockWait& operator=(const PseudoBlockWait&) = delete;
};

}  // namespace Os
