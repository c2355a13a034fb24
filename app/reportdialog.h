// The report dialog every record report is built on: a title, a read-only list filled
// by one query, Refresh (F5), for the reports that allow it Delete (Ctrl+Del) after a
// confirmation, and "&Close". A report is the dialog configured with its captions,
// query, columns and the way a record becomes a row.
//
// Each read and each delete runs in a transaction of its own that is not active in
// between; a database error rolls it back and reaches the caller (or, from the
// dialog's own buttons, the error display), and the next Refresh works again.
//
// A read can keep the server busy for a long time before its first row, so it runs on a
// thread and an attachment of its own: the window keeps running, the station's shared
// attachment stays free for sending, and a read that fails or is cut takes only its own
// attachment down. Delete is one quick statement and stays on the shared attachment.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"

#include <QDateTime>
#include <QDialog>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace Ui {
class TReportDialog;
}
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

struct TReportColumn {
    const char* title;
    int width;
};

struct TReportSpec {
    const char* formName; // the form's component name, e.g. "fmAccepted"
    const char* caption;
    const char* title;
    // The report query; a per-campaign report takes the campaign id as ":id".
    const char* sql;
    bool perCampaign;
    // The delete statement with ":id" and the field holding a row's record id; both
    // null for a report without Delete.
    const char* deleteSql;
    const char* idField;
    std::vector<TReportColumn> columns;
    // The texts of a record's row in column order.
    std::function<QStringList(const ibx::TIBQuery& record)> rowTexts;
};

// How the reports show stored values. Every one shows NULL as an empty text.
// Short date and long time of the platform's locale.
QString DateTimeToStr(const QDateTime& value);
QString FieldText(const ibx::TIBQuery& q, const char* field);
QString FieldDateTime(const ibx::TIBQuery& q, const char* field);
QString FieldDecimal(const ibx::TIBQuery& q, const char* field);
// 8 upper-case hexadecimal digits of the value's 32-bit pattern.
QString FieldHex8(const ibx::TIBQuery& q, const char* field);
// A sending result's text: success, ignored, rejected or unknown.
QString ResultText(int result);

class TReportDialog : public QDialog {
    Q_OBJECT

public:
    ~TReportDialog() override;

    // Components under their published names; acDelete and btDelete are null in a report
    // without Delete.
    QLabel* laTitle = nullptr;
    QTreeWidget* ListView = nullptr;
    QMenu* PopupMenu = nullptr;
    QAction* acRefresh = nullptr;
    QAction* acDelete = nullptr;
    QPushButton* btRefresh = nullptr;
    QPushButton* btDelete = nullptr;
    QPushButton* btClose = nullptr;
    // Shown while a read is under way.
    QPushButton* btCancel = nullptr;
    QLabel* laStatus = nullptr;

    // The delete's transaction and statement, on the station's attachment.
    ibx::TIBTransaction IBTransaction;
    ibx::TIBQuery quDelete;
    int CampaignId = 0;

    // The row's record id (deletable reports).
    static int RowId(const QTreeWidgetItem* item);

    // Reads the report afresh and returns when it is read, the window's events running
    // meanwhile; the rows appear together at the end. Database errors propagate; a cancelled
    // read leaves the list empty. A call while a read is under way is ignored.
    void acRefreshExecute();
    // Ends the read under way at once (Cancel, closing the dialog).
    void CancelRead();
    bool Reading() const { return read_ != nullptr; }
    // Deletes the selected row's record after the user confirmed, and removes the row.
    void acDeleteExecute();
    // Delete is possible while a row is selected.
    void acDeleteUpdate();
    void FormShow();

    // Escape gives the Close button's result.
    void reject() override;
    // Closing the dialog in any way cancels its read.
    void done(int result) override;
    // Runs the dialog modally, unless it was closed already during its first read.
    int exec() override;

protected:
    TReportDialog(const TReportSpec& spec, ibx::TIBDatabase* db, QWidget* parent);
    // Stores the campaign the report is about and refreshes.
    void SetCampaign(int id);
    void showEvent(QShowEvent* e) override;

private:
    struct TRead;

    // Runs a handler from a button, a menu item or a shortcut: its error is shown here.
    void Guarded(void (TReportDialog::*handler)());
    // The status text, Cancel and Refresh as they are during a read or out of one.
    void ShowReading(bool reading);

    std::unique_ptr<Ui::TReportDialog> ui_;
    std::function<QStringList(const ibx::TIBQuery&)> rowTexts_;
    const char* sql_;
    bool perCampaign_;
    const char* idField_;
    // The read under way; acRefreshExecute, waiting for it, holds it too, so it outlasts a
    // dialog destroyed meanwhile.
    std::shared_ptr<TRead> read_;
    bool inExec_ = false;
    bool closedEarly_ = false;
};
