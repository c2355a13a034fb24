// The editor of a file campaign: any file pushed byte for byte under a name the
// operator chooses.
#pragma once

#include "campeditor.h"
#include "stddialogs.h"

namespace Ui {
class TfmFileCamp;
}
class QToolButton;

// The dialog a file campaign's file is chosen in.
TOpenDialog CampaignFileDialog();
// The whole file as it is now; throws with the file's name when none was chosen or it
// cannot be read. An empty file gives empty bytes.
QByteArray ReadCampaignFile(const QString& path);

class TfmFileCamp : public TCampEditor {
    Q_OBJECT

public:
    explicit TfmFileCamp(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    ~TfmFileCamp() override;

    QLineEdit* edFileName = nullptr;
    QToolButton* sbLoad = nullptr;
    TOpenDialog OpenDialog;
    // The file chosen while the dialog is open; empty when none was.
    QString FilePath;

    int CampaignType() const override { return CampTypeFile; }

    void sbLoadClick();

protected:
    void ContentDefaults() override;
    void LoadContent(const ibx::TIBQuery& q) override;
    QString FileNameText() const override;
    QString StoredFileName() const override;
    void FillContent(ibx::TIBStoredProc& sp, bool adding) override;

private:
    std::unique_ptr<Ui::TfmFileCamp> content_;
};
