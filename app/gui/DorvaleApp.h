// The program: prepares the folders and the language table, makes the one controller and
// shows the main window again and again while a language change asks for a fresh start.
#pragma once

#include "app/UserInterface.h"

#include <QString>

#include <string>

class CDorvaleApp {
public:
    struct Options {
        QString port;               // select this device in the port list
        QString trace;              // write every byte on the line to this file
        bool read = false;          // "von Maschine" once the window is up
        QString screenshot;         // save a picture of the window there and end (no display)
        bool exitWhenShown = false; // print "shown" once the window is up, and end (benchmark)
        bool help = false;
        bool version = false;
        QString error; // a bad command line
    };
    // arguments[0] is the program. ownOnly: before QApplication has taken out its own options
    // (-platform X ...): only ours are judged, anything else is passed over.
    static Options ParseArguments(const QStringList& arguments, bool ownOnly = false);
    static const char* Usage();
    // The German table under every language. False after the user was told it could not be
    // read (the program goes on with its own German texts).
    static bool LoadBaseLanguage(cUserInterface& ui);
    // The code of Qt's own translations for a language file's name ("german" -> "de"); empty
    // when not known.
    static QString QtLanguageCode(const std::string& languageName);

    // Needs a QApplication. Returns the program's exit code.
    int Run(const Options& options);
};
