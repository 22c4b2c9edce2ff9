#pragma once

#include <utility>

#include <windows.h>

namespace Ui {

// Sole owner of an icon loaded without LR_SHARED.
class UniqueIcon {
 public:
  UniqueIcon() = default;
  explicit UniqueIcon(HICON icon) : icon_(icon) {}
  ~UniqueIcon() {
    if (icon_ != nullptr) DestroyIcon(icon_);
  }
  UniqueIcon(const UniqueIcon&) = delete;
  UniqueIcon& operator=(const UniqueIcon&) = delete;
  UniqueIcon(UniqueIcon&& other) noexcept : icon_(std::exchange(other.icon_, nullptr)) {}
  UniqueIcon& operator=(UniqueIcon&& other) noexcept {
    if (this != &other) {
      this->~UniqueIcon();
      icon_ = std::exchange(other.icon_, nullptr);
    }
    return *this;
  }

  HICON get() const { return icon_; }

 private:
  HICON icon_ = nullptr;
};

// A 16 by 16 icon of this module in default colours; none when missing.
UniqueIcon LoadSmallIcon(int id);

}  // namespace Ui
