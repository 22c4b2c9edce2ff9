#pragma once

#include "command_line.h"

// Shows the request as a modal window with its buttons and, when asked, a box
// for not asking again. Returns the exit code: the pressed button's index in
// bits 0..2 and the box's state in bit 3. When autoPress is set, presses that
// button (and ticks the box when autoDontAsk) as soon as the window exists.
int RunDialog(const DialogRequest& request, int autoPress, bool autoDontAsk);
