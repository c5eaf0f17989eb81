// kelvane: the service and parameterisation program.
#include "app/ProgramVersion.h"
#include "app/gui/DorvaleApp.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Answered before Qt starts, so it works without a display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("kelvane %s\n", GetProgramVersion().c_str());
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("kelvane");
    // The menu entry's name, so the desktop shows its icon for the window.
    QApplication::setDesktopFileName("de.nork.kelvane");
    const CDorvaleApp::Options options = CDorvaleApp::ParseArguments(app.arguments());
    if (options.help || !options.error.isEmpty()) {
        if (!options.error.isEmpty())
            std::fprintf(stderr, "kelvane: %s\n", qPrintable(options.error));
        std::fprintf(options.help ? stdout : stderr,
                     "usage: kelvane [--port DEVICE] [--read] [--screenshot FILE]\n"
                     "  --port DEVICE      select this device in the port list (e.g. /dev/pts/3)\n"
                     "  --read             read the machine (\"von Maschine\") at start\n"
                     "  --screenshot FILE  save a PNG of the window and end\n"
                     "  --version          print the version and end\n");
        return options.help ? 0 : 2;
    }
    CDorvaleApp program;
    return program.Run(options);
}
