#pragma once

#include <cstdint>

namespace Ui {

// What a status report does in the status window. The numbers are the
// module's interface too: it reports through ReportStatus with them.
enum class StatusCode : int32_t {
  Info = 0,           // the Info line
  Status = 1,         // the Status line
  Session = 2,        // the Session line
  Caption = 3,        // "Vexa DP (<text>)", or "Vexa DP" for an empty text
  Loaded = 5,         // the product icon in the tray; from the module, also "loaded"
  TrayEmblem = 6,     // the emblem icon
  TrayEmblemAlt = 7,  // the emblem icon, the second state
  TrayWarning = 8,    // the warning icon
};

}  // namespace Ui
