// The editor of a text campaign: a short business card stored and pushed as a vCard.
#pragma once

#include "campeditor.h"

#include <QByteArray>

namespace Ui {
class TfmTextCamp;
}

class TfmTextCamp : public TCampEditor {
    Q_OBJECT

public:
    explicit TfmTextCamp(ibx::TIBDatabase* db, QWidget* parent = nullptr);
    ~TfmTextCamp() override;

    QLineEdit *edCompanyName = nullptr, *edURL = nullptr, *edPhone = nullptr, *edMessage = nullptr, *edSendAs = nullptr;

    int CampaignType() const override { return CampTypeText; }

    // The card the edits make, as stored.
    QByteArray CardBytes() const;
    // Fills the edits from stored card bytes; anything that is not a card empties them.
    void ShowCard(const QByteArray& bytes);

protected:
    void ContentDefaults() override;
    QString ContentColumns() const override;
    void LoadContent(const ibx::TIBQuery& q) override;
    QString FileNameText() const override;
    QString StoredFileName() const override;
    void FillContent(ibx::TIBStoredProc& sp, bool adding) override;

private:
    std::unique_ptr<Ui::TfmTextCamp> content_;
};

// The card a text campaign pushes: the company's name, web site, phone (preferred and
// work) and the message as notes, as vCard bytes.
QByteArray CampaignCard(const QString& company, const QString& url, const QString& phone, const QString& message);

// Text as lines the way a string list takes it: split at CR LF, CR or LF, a final line
// break adds no empty line. And back: every line followed by CR LF.
QStringList TextToLines(const QString& text);
QString LinesToText(const QStringList& lines);
