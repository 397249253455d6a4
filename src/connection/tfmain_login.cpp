// SCAFFOLD: login page, replaced by its owner.
#include "main/tfmain.h"
void TFMAIN::buildLoginPage() {}
void TFMAIN::rb2Click() {}
void TFMAIN::Button1Click() {}
void TFMAIN::SetLoginFieldsEnabled(bool) {}
void TFMAIN::RefreshDatabaseList() {}
void TFMAIN::tb_serverKeyPress(QKeyEvent *) {}
void TFMAIN::rb1KeyPress(QKeyEvent *) {}
void TFMAIN::rb2KeyPress(QKeyEvent *) {}
void TFMAIN::tb_uidKeyPress(QKeyEvent *) {}
void TFMAIN::tb_pwdKeyPress(QKeyEvent *) {}
