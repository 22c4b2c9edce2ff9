#include "os/osthreadname.h"

#include <atomic>
#include <map>

#include "os/oslock.h"

namespace Os {
namespace {

class ThreadNameRegistry {
 public:
  ThreadNameRegistry() { alive.store(true); }
  ~ThreadNameRegistry() { alive.store(false); }

  static ThreadNameRegistry& Instance() {
    // C++11 guarantees one construction even when two threads arrive at once.
    static ThreadNameRegistry registry;
    return registry;
  }

  static std::atomic<bool> alive;
  CriticalSection lock;
  std::map<uint32_t, std::wstring> names;
};

std::atomic<bool> ThreadNameRegistry::alive{false};

// Touching the registry before the first name is set makes sure it exists
// before anyone asks whether it is alive.
ThreadNameRegistry* LiveRegistry() {
  ThreadNameRegistry& registry = ThreadNameRegistry::Instance();
  return ThreadNameRegistry::alive.load() ? &registry : nullptr;
}

}  // namespace

void SetThreadName(uint32_t id, const std::wstring& name) {
  ThreadNameRegistry* registry = LiveRegistry();
  if (registry == nullptr || name.empty()) return;
  Key key(registry->lock);
  registry->names[id] = name;
}

void RemoveThreadName(uint32_t id) {
  ThreadNameRegistry* registry = LiveRegistry();
  if (registry == nullptr) return;
  Key key(registry->lock);
  registry->names.erase(id);
}

std::wstring GetThreadName(uint32_t id) {
  ThreadNameRegistry* registry = LiveRegistry();
  if (registry == nullptr) return std::wstring();
  Key key(registry->lock);
  auto found = registry->names.find(id);
  if (found != registry->names.end()) return found->second;
  return registry->names.emplace(id, std::to_wstring(id)).first->second;
}

}  // namespace Os
