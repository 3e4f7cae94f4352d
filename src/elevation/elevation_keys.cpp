#include "elevation_keys.h"

#include "walker.h"

app::KeyResult handleElevationKey(Walker& walker, ElevationToggles& toggles, unsigned char key) {
    switch (key) {
        case kEscapeKey:
            return app::KeyResult::Quit;
        case 'w':
            walker.walk(1);
            break;
        case 'W':
            walker.walk(kShiftSteps);
            break;
        case 's':
            walker.walk(-1);
            break;
        case 'S':
            walker.walk(-kShiftSteps);
            break;
        case 'a':
            walker.turn(-1);
            break;
        case 'd':
            walker.turn(1);
            break;
        case 'o':
            walker.sideStep(1);
            break;
        case 'O':
            walker.sideStep(kShiftSteps);
            break;
        case 'p':
            walker.sideStep(-1);
            break;
        case 'P':
            walker.sideStep(-kShiftSteps);
            break;
        case 'q':
            walker.pitch(1);
            break;
        case 'e':
            walker.pitch(-1);
            break;
        case 'r':
            walker.raiseEye();
            break;
        case 'f':
            walker.lowerEye();
            break;
        case '[':
            walker.halveStep();
            break;
        case ']':
            walker.doubleStep();
            break;
        case 'l':
            toggles.wireframe = !toggles.wireframe;
            break;
        case 'h':
            toggles.readout = !toggles.readout;
            break;
        default:
            return app::KeyResult::Ignored;
    }
    return app::KeyResult::CameraChanged;
}

app::KeyResult handleElevationArrow(Walker& walker, ElevationToggles& toggles, ArrowKey key,
                                    bool shift) {
    switch (key) {
        case ArrowKey::up:
            return handleElevationKey(walker, toggles, shift ? 'W' : 'w');
        case ArrowKey::down:
            return handleElevationKey(walker, toggles, shift ? 'S' : 's');
        case ArrowKey::left:
            return handleElevationKey(walker, toggles, 'a');
        case ArrowKey::right:
            return handleElevationKey(walker, toggles, 'd');
        case ArrowKey::pageUp:
            return handleElevationKey(walker, toggles, 'q');
        case ArrowKey::pageDown:
            return handleElevationKey(walker, toggles, 'e');
    }
    return app::KeyResult::Ignored;
}
