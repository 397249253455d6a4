// SCAFFOLD: maintenance pages, replaced by their owner.
#include "main/tfmain.h"
#include "maintenance/operations.h"
void TFMAIN::buildMaintenancePages() {}
void TFMAIN::RunMaintenance(const dv::MaintenanceOperation &, const QStringList &) {}
void TFMAIN::Button15Click() {}
void TFMAIN::Button3Click() {}
void TFMAIN::Button5Click() {}
void TFMAIN::Button7Click() {}
void TFMAIN::Button9Click() {}
void TFMAIN::Button11Click() {}
void TFMAIN::Button13Click() {}
void TFMAIN::tb_m_fileButtonClick() {}
void TFMAIN::tb_l_fileButtonClick() {}
void TFMAIN::tb_bak_pathButtonClick() {}
void TFMAIN::tb_bak_path2ButtonClick() {}
void TFMAIN::tb_m_pathButtonClick() {}
void TFMAIN::tb_l_pathButtonClick() {}
