#pragma once
// The keys of elevation mode: the classic walking keys, plus the eye's height, the step, the
// wire-frame and the readout line. groundview --help prints this table; the README and the man
// page (packaging/groundview.1) restate it by hand, so a change here goes there too.

#include <string>

#include "app.h"

class Walker;

struct ElevationToggles {
    bool wireframe = false;
    bool readout = true;  // the bearing and position line
};

// One row of the table: what to press or do, and what it does.
struct ElevationKey {
    const char* keys;
    const char* description;
};

constexpr unsigned char kEscapeKey = 27;
// A walk or side-step with Shift (the capital letter) goes this many steps.
constexpr double kShiftSteps = 5.0;

constexpr ElevationKey kElevationKeys[] = {
    {"w, Up", "walk forward one step (Shift: five)"},
    {"s, Down", "walk back one step (Shift: five)"},
    {"a, Left", "turn left 7.5 degrees"},
    {"d, Right", "turn right 7.5 degrees"},
    {"o", "step to the right (Shift: five steps)"},
    {"p", "step to the left (Shift: five steps)"},
    {"q, Page Up", "look up 5 degrees (at most 80 above level)"},
    {"e, Page Down", "look down 5 degrees (at most 80 below level)"},
    {"r", "raise the eye (x 1.25)"},
    {"f", "lower the eye (/ 1.25, not below 1 m)"},
    {"[", "halve the step"},
    {"]", "double the step"},
    {"l", "show or hide the wire-frame"},
    {"h", "show or hide the readout"},
    {"Esc", "quit"},
    {"left-drag", "look around: heading and pitch follow the hand"},
    {"wheel", "walk forward or back one step"},
    {"middle-drag, Shift+left-drag", "orbit round the ground point under the cursor"},
    {"click",
     "pick the ground point under the cursor: its place, height and distance on the "
     "readout's second line and on standard output"},
    {"right-click", "clear the pick"},
};

// The keys beyond letters that elevation mode answers, as the window system reports them.
enum class ArrowKey { up, down, left, right, pageUp, pageDown };

// Lower-case keys, and W, S, O, P for Shift's five steps. Movement and toggles answer
// CameraChanged (the picture changes), Esc Quit, every other key Ignored.
app::KeyResult handleElevationKey(Walker& walker, ElevationToggles& toggles, unsigned char key);
// An arrow or page key acts as its letter in the table, with shift as Shift.
app::KeyResult handleElevationArrow(Walker& walker, ElevationToggles& toggles, ArrowKey key,
                                    bool shift);
