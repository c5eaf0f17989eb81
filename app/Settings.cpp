#include "app/Settings.h"

#include "model/IniFile.h"

#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr const char* kComSection = "COM_PORT";
constexpr const char* kComKey = "COMPORT";
constexpr const char* kSettingsSection = "SETTINGS";
constexpr const char* kLanguageKey = "SPRACHE";
constexpr const char* kTemplateKey = "TEMPLATE";

void SetError(std::string* error, const std::string& text) {
    if (error)
        *error = text;
}

// Sets one key and writes the file back. An existing file that cannot be read is left alone:
// writing our one key over it would lose everything else in it.
template <typename Setter> bool UpdateFile(const fs::path& file, std::string* error, Setter set) {
    if (file.empty()) {
        SetError(error, "no settings file");
        return false;
    }
    IniFile ini;
    std::string loadError;
    if (!ini.Load(file.string(), &loadError)) {
        std::error_code ec;
        if (fs::exists(file, ec) || (ec && ec != std::errc::no_such_file_or_directory)) {
            SetError(error, "cannot read " + file.string() + ": " + loadError);
            return false;
        }
        ini = IniFile();
    }
    if (!set(ini)) {
        SetError(error, "value cannot be stored");
        return false;
    }
    return ini.Save(file.string(), error);
}

// A value edited by hand may stand in double quotes, which the INI readers have always dropped.
std::string Unquoted(std::string v) {
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"')
        return v.substr(1, v.size() - 2);
    return v;
}

} // namespace

bool IsValidLanguageName(const std::string& name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\')
            return false;
    }
    return true;
}

int LoadSettings(const fs::path& file, Settings& settings) {
    IniFile ini;
    if (file.empty() || !ini.Load(file.string()))
        return 0;
    int port = ini.GetInt(kComSection, kComKey, settings.comPortIndex);
    if (port >= 1)
        settings.comPortIndex = port;
    std::string language =
        Unquoted(ini.GetString(kSettingsSection, kLanguageKey, settings.languageName));
    if (IsValidLanguageName(language))
        settings.languageName = language;
    std::string templ =
        Unquoted(ini.GetString(kSettingsSection, kTemplateKey, settings.templatePath));
    if (!templ.empty())
        settings.templatePath = templ;
    return 0;
}

bool SaveComPortIndex(const fs::path& file, int index, std::string* error) {
    if (index < 1) {
        SetError(error, "port position must be 1 or more");
        return false;
    }
    return UpdateFile(file, error,
                      [&](IniFile& ini) { return ini.SetInt(kComSection, kComKey, index); });
}

bool SaveLanguageName(const fs::path& file, const std::string& name, std::string* error) {
    if (!IsValidLanguageName(name)) {
        SetError(error, "not a language name: " + name);
        return false;
    }
    return UpdateFile(file, error, [&](IniFile& ini) {
        return ini.SetString(kSettingsSection, kLanguageKey, name);
    });
}

bool SaveTemplatePath(const fs::path& file, const std::string& path, std::string* error) {
    if (path.empty()) {
        SetError(error, "no template given");
        return false;
    }
    return UpdateFile(file, error, [&](IniFile& ini) {
        return ini.SetString(kSettingsSection, kTemplateKey, path);
    });
}

fs::path ResolveTemplatePath(const std::string& templatePath, const fs::path& dataFolder) {
    // A path with a folder part, absolute or not, is used as it stands (as the report's own
    // rule has it); only a bare name lives in the templates folder.
    if (templatePath.find('/') != std::string::npos)
        return fs::path(templatePath);
    return dataFolder / "templates" / templatePath;
}
