// kelvane: the service and parameterisation program.
#include "app/gui/DorvaleApp.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("kelvane");
    const CDorvaleApp::Options options = CDorvaleApp::ParseArguments(app.arguments());
    if (options.help || !options.error.isEmpty()) {
        if (!options.error.isEmpty())
            std::fprintf(stderr, "kelvane: %s\n", qPrintable(options.error));
        std::fprintf(options.help ? stdout : stderr,
                     "usage: kelvane [--port DEVICE] [--read] [--screenshot FILE]\n"
                     "  --port DEVICE      select this device in the port list (e.g. /dev/pts/3)\n"
                     "  --read             read the machine (\"von Maschine\") at start\n"
                     "  --screenshot FILE  save a PNG of the window and end\n");
        return options.help ? 0 : 2;
    }
    CDorvaleApp program;
    return program.Run(options);
}
