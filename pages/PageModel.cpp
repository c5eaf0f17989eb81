#include "pages/PageModel.h"

#include "lang/Language.h"

void PageModel::SayHeld(int id, const std::string& held) {
    if (view)
        view->Notice(id, Translate("nächster speicherbarer Wert:") + " " + held);
}
