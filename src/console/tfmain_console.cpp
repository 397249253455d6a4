// SCAFFOLD: console page, replaced by its owner.
#include "main/tfmain.h"
#include "console/dbnavigator.h"
void TFMAIN::buildConsolePage() {}
void TFMAIN::buildNavigator() { DBNaV = new dv::DbNavigator(this); DBNaV->hide(); }
void TFMAIN::btnExecClick() {}
