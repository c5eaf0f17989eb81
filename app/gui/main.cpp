// kelvane: the service and parameterisation program.
#include "app/ProgramVersion.h"
#include "app/gui/DorvaleApp.h"

#include <QApplication>
#include <QStringList>
#include <cstdio>

namespace {

// 0 after --help or --version, 2 after a bad command line; -1 when the program is to run.
int AnswerCommandLine(const CDorvaleApp::Options& options) {
    if (!options.error.isEmpty()) {
        std::fprintf(stderr, "kelvane: %s\n%s", qPrintable(options.error), CDorvaleApp::Usage());
        return 2;
    }
    if (options.help) {
        std::fputs(CDorvaleApp::Usage(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("kelvane %s\n", GetProgramVersion().c_str());
        return 0;
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    // Our own options first, before QApplication wants a display: --help and --version work
    // without one, and a missing value is said as such.
    QStringList raw;
    for (int i = 0; i < argc; ++i)
        raw << QString::fromLocal8Bit(argv[i]);
    if (const int rc = AnswerCommandLine(CDorvaleApp::ParseArguments(raw, true)); rc >= 0)
        return rc;

    QApplication app(argc, argv);
    QApplication::setApplicationName("kelvane");
    // The menu entry's name, so the desktop shows its icon for the window.
    QApplication::setDesktopFileName("de.nork.kelvane");
    const CDorvaleApp::Options options = CDorvaleApp::ParseArguments(app.arguments());
    if (const int rc = AnswerCommandLine(options); rc >= 0)
        return rc;
    CDorvaleApp program;
    return program.Run(options);
}
