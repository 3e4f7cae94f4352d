#include "elevation_keys.h"

#include "walker.h"

std::string elevationKeyName(const ElevationKey& key) {
    return key.key == kEscapeKey ? std::string("Esc") : std::string(1, static_cast<char>(key.key));
}

app::KeyResult handleElevationKey(Walker& walker, ElevationToggles& toggles, unsigned char key) {
    switch (key) {
        case kEscapeKey:
            return app::KeyResult::Quit;
        case 'w':
            walker.walk(1);
            break;
        case 's':
            walker.walk(-1);
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
        case 'p':
            walker.sideStep(-1);
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
