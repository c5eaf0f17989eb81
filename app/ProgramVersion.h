// The program's version text.
#pragma once

#include <string>

// "4.0.0.8": the four numbers of the build, most significant first; "0.0.0.0" when the build
// carries no usable version.
const std::string& GetProgramVersion();

// Parses "a.b.c.d" (each 0..65535) into the canonical text; "0.0.0.0" when it is not one.
std::string NormaliseVersion(const std::string& text);

// "%s  %s %s": the translated program title, two blanks, the translated word "Version", one
// blank, the version (about box and report).
std::string TitleVersionText(const std::string& title, const std::string& versionWord);
