// The program: prepares the folders and the language table, makes the one controller and
// shows the main window again and again while a language change asks for a fresh start.
#pragma once

#include <QString>

#include <string>

class CDorvaleApp {
public:
    struct Options {
        QString port;               // select this device in the port list
        bool read = false;          // "von Maschine" once the window is up
        QString screenshot;         // save a picture of the window there and end (no display)
        bool exitWhenShown = false; // print "shown" once the window is up, and end (benchmark)
        bool help = false;
        QString error; // a bad command line
    };
    static Options ParseArguments(const QStringList& arguments);
    // The code of Qt's own translations for a language file's name ("german" -> "de"); empty
    // when not known.
    static QString QtLanguageCode(const std::string& languageName);

    // Needs a QApplication. Returns the program's exit code.
    int Run(const Options& options);
};
