#pragma once
// The keys of elevation mode: the classic walking keys, plus the eye's height, the step, the
// wire-frame and the readout line. The table is the one list --help, the README and the man page
// print.

#include <string>

#include "app.h"

class Walker;

struct ElevationToggles {
    bool wireframe = false;
    bool readout = true;  // the bearing and position line
};

struct ElevationKey {
    unsigned char key;
    const char* description;
};

constexpr unsigned char kEscapeKey = 27;

constexpr ElevationKey kElevationKeys[] = {
    {'w', "walk forward one step"},
    {'s', "walk back one step"},
    {'a', "turn left 7.5 degrees"},
    {'d', "turn right 7.5 degrees"},
    {'o', "step to the right"},
    {'p', "step to the left"},
    {'r', "raise the eye (x 1.25)"},
    {'f', "lower the eye (/ 1.25, not below 1 m)"},
    {'[', "halve the step"},
    {']', "double the step"},
    {'l', "show or hide the wire-frame"},
    {'h', "show or hide the readout line"},
    {kEscapeKey, "quit"},
};

// "Esc" for the escape key, else the key itself.
std::string elevationKeyName(const ElevationKey& key);

// Lower-case keys only. Movement and toggles answer CameraChanged (the picture changes), Esc
// Quit, every other key Ignored.
app::KeyResult handleElevationKey(Walker& walker, ElevationToggles& toggles, unsigned char key);
