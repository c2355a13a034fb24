#include "filecamp.h"

#include "ui_filecamp.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

#include "vcl/SysUtils.h"

TOpenDialog CampaignFileDialog() {
    TOpenDialog dialog;
    dialog.Title = QStringLiteral("Select file for campaign");
    dialog.Filters = {
        QStringLiteral("All Media Files (*.jpg;*.jpeg;*.gif;*.bmp;*.3gp;*.avi;*.mp4;*.vcf;*.txt;*.mid;*.midi;*.mp3;"
                       "*.wav;*.amr;*.jar;*.jad;*.sys)"),
        QStringLiteral("Image Files (*.jpg;*.jpeg;*.gif;*.bmp)"),
        QStringLiteral("Video Files (*.3gp;*.avi;*.mp4)"),
        QStringLiteral("Audio Files (*.mid;*.midi;*.mp3;*.wav;*.amr)"),
        QStringLiteral("Text Files (*.vcf;*.txt)"),
        QStringLiteral("Java Applications (*.jar;*.jad)"),
        QStringLiteral("Symbian Applications (*.sys)"),
        QStringLiteral("All Files (*.*)"),
    };
    return dialog;
}

QByteArray ReadCampaignFile(const QString& path) {
    if (path.isEmpty())
        throw vcl::Exception(u"No file was chosen for the campaign.");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw vcl::Exception(
            QStringLiteral("Cannot open file \"%1\": %2").arg(path, file.errorString()).toStdU16String());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw vcl::Exception(
            QStringLiteral("Cannot read file \"%1\": %2").arg(path, file.errorString()).toStdU16String());
    return bytes;
}

TfmFileCamp::TfmFileCamp(ibx::TIBDatabase* db, QWidget* parent)
    : TCampEditor(db, parent), content_(std::make_unique<Ui::TfmFileCamp>()) {
    setObjectName(QStringLiteral("fmFileCamp"));
    setWindowTitle(QStringLiteral("Edit File Based Campaign"));
    laTitle->setText(QStringLiteral("Edit settings of the file based campaign."));
    auto* page = new QWidget(this);
    content_->setupUi(page);
    ContentLayout()->addWidget(page);
    edFileName = content_->edFileName;
    sbLoad = content_->sbLoad;
    connect(sbLoad, &QToolButton::clicked, this, [this] { sbLoadClick(); });

    OpenDialog = CampaignFileDialog();
    resize(514, 362);
    FormCreate();
}

TfmFileCamp::~TfmFileCamp() = default;

void TfmFileCamp::ContentDefaults() {
    FilePath.clear();
}

void TfmFileCamp::sbLoadClick() {
    if (!OpenDialog.Execute(this))
        return;
    FilePath = OpenDialog.FileName;
    edFileName->setText(QFileInfo(FilePath).fileName());
}

void TfmFileCamp::LoadContent(const ibx::TIBQuery& q) {
    edFileName->setText(FieldText(q, "CAMPAIGNS_FILE_NAME"));
}

QString TfmFileCamp::FileNameText() const {
    return edFileName->text();
}

QString TfmFileCamp::StoredFileName() const {
    return edFileName->text();
}

void TfmFileCamp::FillContent(ibx::TIBStoredProc& sp, bool adding) {
    ClearPromotionParams(sp);
    ibx::TIBXSQLVAR& data = Param(sp, "campaigns_data");
    if (!adding && FilePath.isEmpty()) {
        data.Clear(); // the stored bytes stay as they are
        return;
    }
    // Read now, not when chosen: the bytes stored are those of the file as it is at OK.
    // An empty file is an empty content, never NULL: NULL would keep the old bytes.
    const QByteArray bytes = ReadCampaignFile(FilePath);
    data.SetAsBytes(ibx::TBytes(bytes.begin(), bytes.end()));
}
