#include "textcamp.h"

#include "ui_textcamp.h"
#include "vyrvCard.h"

#include <QLabel>
#include <QVBoxLayout>

#include <string>

QStringList TextToLines(const QString& text) {
    QStringList lines;
    QString line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            lines << line;
            line.clear();
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
        } else {
            line += c;
        }
    }
    if (!line.isEmpty())
        lines << line;
    return lines;
}

QString LinesToText(const QStringList& lines) {
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

TfmTextCamp::TfmTextCamp(ibx::TIBDatabase* db, QWidget* parent)
    : TCampEditor(db, parent), content_(std::make_unique<Ui::TfmTextCamp>()) {
    setObjectName(QStringLiteral("fmTextCamp"));
    setWindowTitle(QStringLiteral("Edit vCard Based Campaign"));
    laTitle->setText(QStringLiteral("Edit settings of the vCard based campaign."));
    auto* page = new QWidget(this);
    content_->setupUi(page);
    ContentLayout()->addWidget(page);
    edCompanyName = content_->edCompanyName;
    edURL = content_->edURL;
    edPhone = content_->edPhone;
    edMessage = content_->edMessage;
    edSendAs = content_->edSendAs;
    resize(514, 488);
    FormCreate();
}

TfmTextCamp::~TfmTextCamp() = default;

void TfmTextCamp::ContentDefaults() {
    edSendAs->setText(QStringLiteral("vcard"));
}

QString TfmTextCamp::ContentColumns() const {
    return QStringLiteral(", CAMPAIGNS_DATA");
}

QByteArray CampaignCard(const QString& company, const QString& url, const QString& phone, const QString& message) {
    TvyrvCard card;
    card.Business.Company.Name = company.toStdU16String();
    card.Explanatory.Url1 = url.toStdU16String();
    card.Telecom.Phone1.Number = phone.toStdU16String();
    card.Telecom.Phone1.Types = 3; // PREF and WORK
    for (const QString& line : TextToLines(message))
        card.Explanatory.Notes.push_back(line.toStdString());
    std::string stream;
    card.SaveToStream(stream);
    return QByteArray(stream.data(), static_cast<qsizetype>(stream.size()));
}

QByteArray TfmTextCamp::CardBytes() const {
    return CampaignCard(edCompanyName->text(), edURL->text(), edPhone->text(), edMessage->text());
}

void TfmTextCamp::ShowCard(const QByteArray& bytes) {
    TvyrvCard card;
    try {
        card.LoadFromStream(std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())));
    } catch (const std::exception&) {
        card.Clear(); // not a card: the edits stay empty
    }
    edCompanyName->setText(QString::fromStdU16String(card.Business.Company.Name));
    edURL->setText(QString::fromStdU16String(card.Explanatory.Url1));
    edPhone->setText(QString::fromStdU16String(card.Telecom.Phone1.Number));
    // The reader keeps each note line's own line break; the edit is single-line, so the
    // lines are shown joined without a closing break (splitting gives the same lines back).
    QStringList notes;
    for (const std::string& note : card.Explanatory.Notes)
        notes << TextToLines(QString::fromStdString(note)).join(QStringLiteral("\r\n"));
    QString text = LinesToText(notes);
    text.chop(text.endsWith(QStringLiteral("\r\n")) ? 2 : 0);
    edMessage->setText(text);
}

void TfmTextCamp::LoadContent(const ibx::TIBQuery& q) {
    const ibx::TIBXSQLVAR& data = q.FieldByName("CAMPAIGNS_DATA");
    QByteArray bytes;
    if (!data.IsNull()) {
        const ibx::TBytes b = data.AsBytes();
        bytes = QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()));
    }
    ShowCard(bytes);
    edSendAs->setText(StripFileExt(FieldText(q, "CAMPAIGNS_FILE_NAME")));
}

QString TfmTextCamp::FileNameText() const {
    return edSendAs->text();
}

QString TfmTextCamp::StoredFileName() const {
    return StripFileExt(edSendAs->text()) + QStringLiteral(".vcf");
}

void TfmTextCamp::FillContent(ibx::TIBStoredProc& sp, bool) {
    ClearPromotionParams(sp);
    const QByteArray card = CardBytes();
    Param(sp, "campaigns_data").SetAsBytes(ibx::TBytes(card.begin(), card.end()));
}
