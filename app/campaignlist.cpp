#include "campaignlist.h"

#include "campeditor.h"
#include "filecamp.h"
#include "msgbox.h"
#include "promocamp.h"
#include "strings.h"
#include "textcamp.h"
#include "translation.h"
#include "wizard.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTreeWidget>

QString CampaignTypeText(int type) {
    switch (type) {
    case CampTypeFile:
        return TranslateText(STR_TYPE_FILE);
    case CampTypeText:
        return TranslateText(STR_TEXT);
    case CampTypePromotion:
        return TranslateText(STR_PROMO);
    default:
        return TranslateText(STR_TYPE_UNKNOWN);
    }
}

QString ScheduleText(int schedule) {
    switch (schedule) {
    case 0:
        return TranslateText(STR_SCHED_CONT);
    case 1:
        return TranslateText(STR_SCHED_TIME);
    case 2:
        return TranslateText(STR_SCHED_DAYS);
    default:
        return TranslateText(STR_SCHED_UNKNWON);
    }
}

TCampaignList::TCampaignList(QTreeWidget* list, ibx::TIBDatabase* db, ibx::TIBTransaction* tr, QWidget* owner)
    : list_(list), db_(db), tr_(tr), owner_(owner), quCampaigns(std::make_unique<ibx::TIBQuery>()),
      quDeleteCamp(std::make_unique<ibx::TIBQuery>()) {
    quCampaigns->SetDatabase(db);
    quCampaigns->SetTransaction(tr);
    quCampaigns->SetSQL("select CAMPAIGNS_ID, CAMPAIGNS_NAME, CAMPAIGNS_TYPE, CAMPAIGNS_SCHEDULE, CAMPAIGNS_ENABLED "
                        "from  CAMPAIGNS order by CAMPAIGNS_NAME;");
    quDeleteCamp->SetDatabase(db);
    quDeleteCamp->SetTransaction(tr);
    quDeleteCamp->SetSQL("delete from CAMPAIGNS where (CAMPAIGNS_ID = :ID);");
}

TCampaignList::~TCampaignList() = default;

QTreeWidgetItem* TCampaignList::Selected() const {
    const auto selected = list_->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

int TCampaignList::RowId(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).toInt() : 0;
}

void TCampaignList::SetRow(QTreeWidgetItem* item, const QString& name, const QString& schedule, bool enabled) {
    item->setText(0, name);
    item->setText(2, schedule);
    item->setText(3, BoolToYesNo(enabled));
}

void TCampaignList::Refresh() {
    list_->setUpdatesEnabled(false);
    list_->clear();
    try {
        try {
            quCampaigns->Open();
            for (; !quCampaigns->Eof(); quCampaigns->Next()) {
                auto field = [this](const char* name) {
                    const ibx::TIBXSQLVAR& f = quCampaigns->FieldByName(name);
                    return f.IsNull() ? -1 : f.AsInteger();
                };
                auto* item = new QTreeWidgetItem(list_);
                item->setData(0, Qt::UserRole, field("CAMPAIGNS_ID"));
                item->setText(1, CampaignTypeText(field("CAMPAIGNS_TYPE")));
                SetRow(item, QString::fromStdU16String(quCampaigns->FieldByName("CAMPAIGNS_NAME").AsWideString()),
                       ScheduleText(field("CAMPAIGNS_SCHEDULE")), field("CAMPAIGNS_ENABLED") == 1);
            }
            quCampaigns->Close();
            tr_->CommitRetaining();
        } catch (...) {
            quCampaigns->Close();
            tr_->RollbackRetaining();
            throw;
        }
    } catch (const std::exception& e) {
        list_->setUpdatesEnabled(true);
        ShowException(owner_, e);
        return;
    }
    list_->setUpdatesEnabled(true);
}

int TCampaignList::ShowModal(TCampEditor& editor) {
    return ShowModalHook ? ShowModalHook(editor) : editor.exec();
}

void TCampaignList::AddWith(std::unique_ptr<TCampEditor> editor, int type) {
    if (ShowModal(*editor) != QDialog::Accepted)
        return;
    auto* item = new QTreeWidgetItem(list_);
    item->setData(0, Qt::UserRole, editor->CampaignId);
    item->setText(1, CampaignTypeText(type));
    SetRow(item, editor->edCampaignName->text(), ScheduleText(editor->cbSchedule->currentIndex()),
           editor->cbEnabled->isChecked());
}

void TCampaignList::AddFileBased() {
    try {
        AddWith(std::make_unique<TfmFileCamp>(db_, owner_), CampTypeFile);
    } catch (const std::exception& e) {
        ShowException(owner_, e);
    }
}

void TCampaignList::AddTextBased() {
    try {
        AddWith(std::make_unique<TfmTextCamp>(db_, owner_), CampTypeText);
    } catch (const std::exception& e) {
        ShowException(owner_, e);
    }
}

void TCampaignList::AddPromotion() {
    try {
        AddWith(std::make_unique<TfmPromoCamp>(db_, owner_), CampTypePromotion);
    } catch (const std::exception& e) {
        ShowException(owner_, e);
    }
}

void TCampaignList::AddWizard() {
    try {
        TfmWizard wizard(db_, owner_);
        if ((ShowWizardHook ? ShowWizardHook(wizard) : wizard.exec()) != QDialog::Accepted)
            return;
        auto* item = new QTreeWidgetItem(list_);
        item->setData(0, Qt::UserRole, wizard.CampaignId);
        item->setText(1, CampaignTypeText(wizard.TypeCode()));
        SetRow(item, wizard.edName->text(), ScheduleText(wizard.ScheduleCode()), wizard.cbEnabled->isChecked());
    } catch (const std::exception& e) {
        ShowException(owner_, e);
    }
}

void TCampaignList::Edit() {
    QTreeWidgetItem* item = Selected();
    if (!item)
        return;
    const QString type = item->text(1);
    try {
        std::unique_ptr<TCampEditor> editor;
        if (type == TranslateText(STR_TYPE_FILE))
            editor = std::make_unique<TfmFileCamp>(db_, owner_);
        else if (type == TranslateText(STR_TEXT))
            editor = std::make_unique<TfmTextCamp>(db_, owner_);
        else if (type == TranslateText(STR_PROMO))
            editor = std::make_unique<TfmPromoCamp>(db_, owner_);
        if (!editor) {
            ErrorOK(owner_, TranslateText(STR_UNSUPPORTED_CAMP_TYPE));
            return;
        }
        // Deleted elsewhere (another station, a tool): the row points at nothing, and an
        // editor would store a new campaign under its name.
        if (!editor->LoadCampaign(RowId(item))) {
            ErrorOK(owner_, TranslateText(STR_CAMPAIGN_GONE));
            RemoveRow(item);
            return;
        }
        const int result = ShowModal(*editor);
        if (editor->CampaignGone) { // the editor told the user
            RemoveRow(item);
            return;
        }
        if (result != QDialog::Accepted)
            return;
        SetRow(item, editor->edCampaignName->text(), ScheduleText(editor->cbSchedule->currentIndex()),
               editor->cbEnabled->isChecked());
    } catch (const std::exception& e) {
        ShowException(owner_, e);
    }
}

void TCampaignList::RemoveRow(QTreeWidgetItem* item) {
    delete item;
    // The selection does not move on to a neighbour: a second Edit or Delete must not hit
    // a campaign the user did not choose.
    list_->clearSelection();
}

void TCampaignList::Delete() {
    QTreeWidgetItem* item = Selected();
    if (!item || !ConfirmYesNo(owner_, TranslateText(STR_DELETE_CAMPAIGN)))
        return;
    try {
        quDeleteCamp->ParamByName("ID").SetAsInteger(RowId(item));
        quDeleteCamp->ExecSQL();
        RemoveRow(item);
    } catch (const ibx::EIBError& e) {
        if (QString::fromUtf8(e.what()).toLower().contains(QLatin1String("e_campaigns_busy")))
            ErrorOK(owner_, TranslateText(STR_CAMPAIGN_RUNNING));
        else
            ShowException(owner_, e);
    } catch (const std::exception& e) {
        ShowException(owner_, e);
    }
    try {
        tr_->CommitRetaining();
    } catch (const std::exception& e) {
        ShowException(owner_, e);
    }
}
