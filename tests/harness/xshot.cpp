// xshot: saves the screen of an X display as a PNG and types keys into it, in the order given.
//   xshot [--display :N] [--out FILE.png] [--key KEYSYM] [--wait MS] ...
// The display defaults to $DISPLAY; keysyms are X names such as Escape, w or Left.

#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "x_screen.h"

namespace {

int usage() {
    std::cerr << "usage: xshot [--display :N] [--out FILE.png] [--key KEYSYM] [--wait MS] ..."
              << std::endl;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const char* fromEnvironment = std::getenv("DISPLAY");
    std::string display = fromEnvironment != nullptr ? fromEnvironment : "";
    std::vector<std::pair<std::string, std::string>> actions;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return usage();
        }
        const std::string value = argv[++i];
        if (option == "--display") {
            display = value;
        } else if (option == "--out" || option == "--key" || option == "--wait") {
            actions.emplace_back(option, value);
        } else {
            return usage();
        }
    }
    if (display.empty() || actions.empty()) {
        return usage();
    }

    try {
        XScreen screen(display);
        for (const auto& [action, value] : actions) {
            if (action == "--out") {
                if (!screen.capture().writePng(value)) {
                    std::cerr << "xshot: cannot write " << value << std::endl;
                    return 1;
                }
            } else if (action == "--key") {
                const KeySym keysym = XStringToKeysym(value.c_str());
                if (keysym == NoSymbol || !screen.tapKey(keysym)) {
                    std::cerr << "xshot: cannot type the key " << value << std::endl;
                    return 1;
                }
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(value.c_str())));
            }
        }
    } catch (const std::exception& error) {
        std::cerr << "xshot: " << error.what() << std::endl;
        return 1;
    }
    return 0;
}
