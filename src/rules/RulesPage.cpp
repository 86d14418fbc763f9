// The "Rules Engine" page: the rule list and the rule file.
#include "app/frmMain.h"

void TfrmMain::CreateRulesPage() {}

void TfrmMain::LoadRules() {}

void TfrmMain::SaveRules() {}
