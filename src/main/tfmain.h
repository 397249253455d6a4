// TFMAIN: the one main window. It owns every control and component for its
// whole life. Handlers are named after their control and event; each module
// implements the handlers of the pages it owns:
//   src/main/tfmain.cpp               window frame, gate, status hints, log
//   src/connection/tfmain_login.cpp   login page, database list
//   src/maintenance/tfmain_maintenance.cpp  pages 1-7 and RunMaintenance
//   src/console/tfmain_console.cpp    SQL console page and the navigator
#pragma once

#include "core/sqlhistory.h"

#include <QHash>
#include <QMainWindow>
#include <QStringList>

#include <memory>

class QCloseEvent;
class QComboBox;
class QFrame;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QShowEvent;
class QTabWidget;
class QTableView;
class QTextEdit;
class QWidget;

namespace dv {
class Connection;
class Query;
class PathEdit;
class FileDialog;
class DbNavigator;
class ResultModel;
struct MaintenanceOperation;
} // namespace dv

class TFMAIN : public QMainWindow {
    Q_OBJECT
public:
    // The window takes the connection it will use; the program passes the
    // ODBC connection, tests may pass a fake.
    explicit TFMAIN(std::unique_ptr<dv::Connection> connection, QWidget *parent = nullptr);
    ~TFMAIN() override;

    // ---- Window frame (src/main) ----
    QFrame *Panel1 = nullptr;
    QLabel *lbl_info = nullptr;
    QTabWidget *pc = nullptr;
    QLabel *statusPanel0 = nullptr; // status bar panel 0: fixed note
    QLabel *statusPanel1 = nullptr; // status bar panel 1: hint of the current page
    QWidget *ts0 = nullptr, *ts1 = nullptr, *ts2 = nullptr, *ts3 = nullptr, *ts4 = nullptr,
            *ts5 = nullptr, *ts6 = nullptr, *ts7 = nullptr, *ts8 = nullptr, *TabSheet1 = nullptr;

    std::unique_ptr<dv::Connection> conn;
    dv::Query *q = nullptr;        // catalogue and maintenance
    dv::Query *AdoQExec = nullptr; // console

    // The five file dialogs live as long as the window.
    std::unique_ptr<dv::FileDialog> SaveDialog1, SaveDialog2, SaveDialog3, SaveDialog4, OpenDialog1;

    void FormShow();
    void FormClose();
    void Button2Click();
    void pcChange(int index);
    void lbl_infoClick();
    static QString pageHint(int index); // "" for an index without a page

    // ---- Operation log (src/main) ----
    QPlainTextEdit *tb_memo = nullptr;
    void AppendLog(const QString &text);
    void tb_memoKeyDown(QKeyEvent *e);
    void saveLogTo(const QString &fileName); // F10's write; throws on failure

    // ---- Login page (src/connection/tfmain_login.cpp) ----
    QLineEdit *tb_server = nullptr;
    QRadioButton *rb1 = nullptr, *rb2 = nullptr;
    QLineEdit *tb_uid = nullptr, *tb_pwd = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr;
    QLabel *lbl_ini = nullptr;
    QComboBox *cb_db = nullptr, *cb_db3 = nullptr, *cb_db5 = nullptr, *cb_db6 = nullptr;

    void rb2Click();
    void Button1Click();
    void SetLoginFieldsEnabled(bool enabled);
    void RefreshDatabaseList();
    void tb_serverKeyPress(QKeyEvent *e);
    void rb1KeyPress(QKeyEvent *e);
    void rb2KeyPress(QKeyEvent *e);
    void tb_uidKeyPress(QKeyEvent *e);
    void tb_pwdKeyPress(QKeyEvent *e);

    // ---- Maintenance pages (src/maintenance/tfmain_maintenance.cpp) ----
    // create
    QLineEdit *tb_db = nullptr;
    dv::PathEdit *tb_m_file = nullptr;
    QLineEdit *tb_m_size = nullptr, *tb_m_group = nullptr, *tb_m_max = nullptr;
    dv::PathEdit *tb_l_file = nullptr;
    QLineEdit *tb_l_size = nullptr, *tb_l_group = nullptr, *tb_l_max = nullptr;
    QPushButton *Button15 = nullptr, *Button16 = nullptr;
    // backup / restore
    dv::PathEdit *tb_bak_path = nullptr, *tb_bak_path2 = nullptr;
    QComboBox *cb_db2 = nullptr;
    QPushButton *Button3 = nullptr, *Button4 = nullptr, *Button5 = nullptr, *Button6 = nullptr;
    // detach / attach / drop / shrink
    QComboBox *cb_db4 = nullptr;
    dv::PathEdit *tb_m_path = nullptr, *tb_l_path = nullptr;
    QPushButton *Button7 = nullptr, *Button8 = nullptr, *Button9 = nullptr, *Button10 = nullptr,
                *Button11 = nullptr, *Button12 = nullptr, *Button13 = nullptr, *Button14 = nullptr;

    void RunMaintenance(const dv::MaintenanceOperation &op, const QStringList &lines);
    void Button15Click();
    void Button3Click();
    void Button5Click();
    void Button7Click();
    void Button9Click();
    void Button11Click();
    void Button13Click();
    void tb_m_fileButtonClick();
    void tb_l_fileButtonClick();
    void tb_bak_pathButtonClick();
    void tb_bak_path2ButtonClick();
    void tb_m_pathButtonClick();
    void tb_l_pathButtonClick();
    // Enter chains of pages 1-7
    void tb_dbKeyPress(QKeyEvent *e);
    void tb_m_fileKeyPress(QKeyEvent *e);
    void tb_m_sizeKeyPress(QKeyEvent *e);
    void tb_m_groupKeyPress(QKeyEvent *e);
    void tb_m_maxKeyPress(QKeyEvent *e);
    void tb_l_fileKeyPress(QKeyEvent *e);
    void tb_l_sizeKeyPress(QKeyEvent *e);
    void tb_l_groupKeyPress(QKeyEvent *e);
    void tb_l_maxKeyPress(QKeyEvent *e);
    void cb_dbKeyPress(QKeyEvent *e);
    void tb_bak_pathKeyPress(QKeyEvent *e);
    void cb_db2KeyPress(QKeyEvent *e);
    void tb_bak_path2KeyPress(QKeyEvent *e);
    void cb_db3KeyPress(QKeyEvent *e);
    void cb_db4KeyPress(QKeyEvent *e);
    void tb_m_pathKeyPress(QKeyEvent *e);
    void tb_l_pathKeyPress(QKeyEvent *e);
    void cb_db5KeyPress(QKeyEvent *e);
    void cb_db6KeyPress(QKeyEvent *e);

    // ---- SQL console (src/console/tfmain_console.cpp) ----
    QTextEdit *RtSql = nullptr;
    QPushButton *btnExec = nullptr;
    QTableView *DbGridResult = nullptr;
    dv::ResultModel *dsResult = nullptr;
    dv::DbNavigator *DBNaV = nullptr; // window-level, hidden at start
    QLabel *lbl_readonly = nullptr;   // why the rows shown cannot be written back; hidden otherwise

    void btnExecClick();
    // F5 and Ctrl+Enter run the text as "执行" does; Alt+Up and Alt+Down step
    // through the texts run while the window is open.
    void RtSqlKeyDown(QKeyEvent *e);

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;
    bool eventFilter(QObject *watched, QEvent *e) override;

private:
    // Each module builds its own page(s) into the page widgets created by the
    // frame, and wires its own signals.
    void buildFrame();
    void buildLogPage();
    void buildLoginPage();
    void buildMaintenancePages(); // the dialogs, then one builder per page:
    void buildCreatePage();
    void buildBackupPage();
    void buildRestorePage();
    void buildDetachPage();
    void buildAttachPage();
    void buildDropPage();
    void buildShrinkPage();
    void buildConsolePage();
    void buildNavigator();
    void showNavigator(bool shown); // the console page's navigator floats at window level

public:
    // Routes key presses that reach `w` to `handler` (the Enter chains, F10).
    // For an editable combo box, pass the combo box itself: it receives the keys.
    // A handler that accepts the event takes the key: `w` does not see it.
    void onKeyPress(QWidget *w, void (TFMAIN::*handler)(QKeyEvent *));

private:
    QHash<QObject *, void (TFMAIN::*)(QKeyEvent *)> m_keyHandlers;

    dv::SqlHistory m_sqlHistory; // the console's texts run since the window opened

    bool m_shown = false;
    bool m_gateReturning = false; // the gate's own return to page 0 does not re-run pcChange
};
