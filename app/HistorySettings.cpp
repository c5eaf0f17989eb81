// The history's settings and the words for a failed sync.
#include "app/HistoryJournal.h"

#include "lang/Language.h"
#include "model/IniFile.h"

HistorySettings LoadHistorySettings(const std::filesystem::path& settingsFile) {
    HistorySettings s;
    IniFile ini;
    if (!settingsFile.empty() && ini.Load(settingsFile.string())) {
        s.server = ini.GetString("SETTINGS", "HistoryServer", "");
        s.technician = ini.GetString("SETTINGS", "Technician", "");
    }
    if (s.technician.empty())
        s.technician = LoginName();
    return s;
}

std::string SyncErrorText(const ServerError& error) {
    std::string text;
    switch (error.kind) {
    case ServerError::None:
        return {};
    case ServerError::Unreachable:
        text = Translate("Der Server ist nicht erreichbar");
        break;
    case ServerError::Auth:
        text = Translate("Der Server hat die Anmeldung abgelehnt: falsches Passwort oder "
                         "unbekannter Benutzer");
        break;
    case ServerError::NoDatabase:
        text = Translate("Die Datenbank existiert auf dem Server nicht");
        break;
    case ServerError::Permission:
        text = Translate("Keine Berechtigung auf dem Server (die Rolle kelvane_technician fehlt)");
        break;
    case ServerError::NoSchema:
        text = Translate("Auf dem Server ist kein gemeinsamer Verlauf eingerichtet "
                         "(kelvane-cli server init)");
        break;
    case ServerError::SchemaOld:
        text = Translate("Das Schema auf dem Server ist zu alt (kelvane-cli server init "
                         "aktualisiert es)");
        break;
    case ServerError::SchemaNew:
        text = Translate("Das Schema auf dem Server ist zu neu: bitte Kelvane aktualisieren");
        break;
    case ServerError::Full:
        text = Translate("Der Datenträger des Servers ist voll");
        break;
    case ServerError::Config:
        text = Translate("Die Serverangabe ist ungültig");
        break;
    case ServerError::Local:
        text = Translate("Fehler im Verlauf");
        break;
    case ServerError::Other:
        text = Translate("Fehler auf dem Server");
        break;
    }
    return error.detail.empty() ? text : text + " (" + error.detail + ")";
}
