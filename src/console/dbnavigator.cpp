// SCAFFOLD: replaced by the navigator implementation.
#include "dbnavigator.h"
namespace dv {
DbNavigator::DbNavigator(QWidget *parent) : QWidget(parent) {}
void DbNavigator::bind(QTableView *, ResultModel *) {}
void DbNavigator::updateButtons() {}
}
