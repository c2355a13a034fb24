// The main window's campaign list: every stored campaign with its type, schedule and
// enabled state; adding through the three editors, editing, deleting.
//
// The list works on the main window's connection and transaction: each step ends with
// commit-retaining, and a failing step rolls back to the last one before it is shown.
#pragma once

#include "ibx/IBDatabase.h"
#include "ibx/IBQuery.h"

#include <QString>

#include <functional>
#include <memory>

class QTreeWidget;
class QTreeWidgetItem;
class QWidget;
class TCampEditor;
class TfmWizard;

// The list's texts for the stored codes.
QString CampaignTypeText(int type);
QString ScheduleText(int schedule);

class TCampaignList {
public:
    // list: the four-column list (name, type, schedule, enabled); owner: the parent of
    // the editors and message boxes.
    TCampaignList(QTreeWidget* list, ibx::TIBDatabase* db, ibx::TIBTransaction* tr, QWidget* owner);
    ~TCampaignList();

    // Shows an editor modally and returns its result; tests answer here instead.
    std::function<int(TCampEditor& editor)> ShowModalHook;
    std::function<int(TfmWizard& wizard)> ShowWizardHook;

    // Reads every campaign, ordered by name.
    void Refresh();
    // Opens a new campaign's editor and appends the stored campaign at the end.
    void AddFileBased();
    void AddTextBased();
    void AddPromotion();
    // Opens the new-campaign wizard and appends the campaign it created at the end.
    void AddWizard();
    // Opens the selected campaign in its type's editor. A campaign deleted elsewhere is
    // reported and its row taken off the list; nothing is stored.
    void Edit();
    // Deletes the selected campaign after asking; a campaign being sent stays.
    void Delete();

    QTreeWidgetItem* Selected() const;
    // The list's row data: the campaign id in column 0 under Qt::UserRole.
    static int RowId(const QTreeWidgetItem* item);

private:
    void AddWith(std::unique_ptr<TCampEditor> editor, int type);
    int ShowModal(TCampEditor& editor);
    void RemoveRow(QTreeWidgetItem* item);
    static void SetRow(QTreeWidgetItem* item, const QString& name, const QString& schedule, bool enabled);

    QTreeWidget* list_;
    ibx::TIBDatabase* db_;
    ibx::TIBTransaction* tr_;
    QWidget* owner_;
    std::unique_ptr<ibx::TIBQuery> quCampaigns;
    std::unique_ptr<ibx::TIBQuery> quDeleteCamp;
};
