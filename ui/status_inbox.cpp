#include "ui/status_inbox.h"

#include <algorithm>
#include <cstring>
#include <deque>

#include "os/oslock.h"
#include "ui/window_messages.h"

namespace Ui {
namespace {

// More waiting than a window could ever show: a window that does not run.
constexpr size_t kMaxWaiting = 4096;

struct Report {
  uint32_t ticket;
  int32_t code;
  bool hasText;
  std::string text;
};

SRWLOCK gLock = SRWLOCK_INIT;
std::deque<Report> gReports;
uint32_t gNextTicket = 1;

}  // namespace

bool StatusInbox::Post(HWND window, int32_t code, const char* text) {
  Report report{0, code, text != nullptr, text != nullptr ? std::string(text, strnlen(text, kMaxText)) : std::string()};
  uint32_t ticket;
  {
    Os::ShortLock lock(gLock);
    if (gReports.size() >= kMaxWaiting) return false;
    ticket = gNextTicket++;
    if (ticket == 0) ticket = gNextTicket++;
    report.ticket = ticket;
    gReports.push_back(std::move(report));
  }
  if (PostMessageW(window, kStatusMessage, static_cast<WPARAM>(code), static_cast<LPARAM>(ticket))) return true;
  Os::ShortLock lock(gLock);
  gReports.erase(
      std::remove_if(gReports.begin(), gReports.end(), [&](const Report& waiting) { return waiting.ticket == ticket; }),
      gReports.end());
  return false;
}

bool StatusInbox::Take(LPARAM ticket, int32_t* code, std::string* text, bool* hasText) {
  Os::ShortLock lock(gLock);
  auto found = std::find_if(gReports.begin(), gReports.end(),
                            [&](const Report& waiting) { return static_cast<LPARAM>(waiting.ticket) == ticket; });
  if (found == gReports.end()) return false;
  *code = found->code;
  *hasText = found->hasText;
  *text = std::move(found->text);
  gReports.erase(found);
  return true;
}

size_t StatusInbox::Pending() {
  Os::ShortLock lock(gLock);
  return gReports.size();
}

void StatusInbox::Clear() {
  Os::ShortLock lock(gLock);
  gReports.clear();
}

}  // namespace Ui
