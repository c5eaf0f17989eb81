// The controller's side of the service history: a backup before every write, a record of every
// command that reached a machine.
#include "app/DialogMain.h"

bool cDialogMain::BackupBeforeWrite(MachineEvent event, int64_t& backupId) {
    backupId = 0;
    if (!journal)
        return true;
    std::string error;
    backupId = journal->Backup(event, error);
    return backupId > 0;
}

void cDialogMain::RecordCommand(int64_t backupId, const MachineEvent& event) {
    if (!journal)
        return;
    std::string error;
    journal->Record(backupId, event, error);
}
