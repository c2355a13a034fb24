#include "promocamp.h"

#include "fieldcheck.h"
#include "jpegcodec.h"
#include "msgbox.h"
#include "strings.h"
#include "translation.h"
#include "ui_promocamp.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QVBoxLayout>

QString PromoPreviewText(const QString& message, bool coupon) {
    QString text = message;
    if (coupon) {
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += QLatin1String(PromoCouponPlaceholder);
    }
    return text;
}

void ShowCouponValidity(bool coupon, QWidget* label, QLineEdit* validIn) {
    label->setEnabled(coupon);
    validIn->setEnabled(coupon);
    validIn->setText(coupon ? QStringLiteral("1") : QString());
}

bool CheckCouponValidity(QWidget* owner, const QCheckBox* coupon, const QLabel* label, const QLineEdit* validIn) {
    // 0 hours would mark every coupon handed out as used at once.
    return !coupon->isChecked() || CheckWholeNumber(owner, validIn, FieldCaption(label), 1, CouponValidityMax);
}

TOpenDialog PromoPictureDialog() {
    TOpenDialog dialog;
    dialog.Title = QStringLiteral("Select image");
    dialog.Filters = {QStringLiteral("All (*.jpg;*.jpeg;*.bmp)"), QStringLiteral("JPEG Image File (*.jpg;*.jpeg)"),
                      QStringLiteral("Bitmaps (*.bmp)")};
    return dialog;
}

QImage ReadPromoPicture(const QString& path) {
    return LoadPictureFile(path).convertToFormat(QImage::Format_RGB888);
}

void ChoosePromoPicture(QWidget* owner, TOpenDialog& dialog, QLineEdit* sendAs, TPromoPreview* preview) {
    if (!dialog.Execute(owner))
        return;
    sendAs->setText(StripFileExt(QFileInfo(dialog.FileName).fileName()));
    try {
        preview->SetPicture(ReadPromoPicture(dialog.FileName));
    } catch (const std::exception& e) {
        ShowException(owner, e);
    }
}

void ChoosePromoFont(QWidget* owner, TFontDialog& dialog, TPromoPreview* preview) {
    dialog.Font = preview->Font();
    if (dialog.Execute(owner))
        preview->SetFont(dialog.Font);
}

int PromoVAlignCode(const QAbstractButton* middle, const QAbstractButton* bottom) {
    return bottom->isChecked() ? 2 : middle->isChecked() ? 1 : 0;
}

int PromoHAlignCode(const QAbstractButton* left, const QAbstractButton* center) {
    return left->isChecked() ? 0 : center->isChecked() ? 1 : 2;
}

void SetPromotionParams(ibx::TIBStoredProc& sp, const TPromotionParams& p) {
    sp.ParamByName("campaigns_data").SetAsBytes(ibx::TBytes(p.Jpeg.begin(), p.Jpeg.end()));
    sp.ParamByName("campaigns_valign").SetAsInteger(p.VAlign);
    sp.ParamByName("campaigns_halign").SetAsInteger(p.HAlign);
    sp.ParamByName("campaigns_use_coupon").SetAsInteger(p.UseCoupon ? 1 : 0);
    sp.ParamByName("campaigns_message").SetAsWideString(p.Message.toStdU16String());
    // Sent as text: the database converts it, and refuses what is not a number.
    if (p.UseCoupon)
        sp.ParamByName("campaigns_valid_in").SetAsWideString(p.ValidIn.toStdU16String());
    else
        sp.ParamByName("campaigns_valid_in").Clear();
}

void SetFontParams(ibx::TIBStoredProc& sp, const TPromoFont& font) {
    sp.ParamByName("campaigns_font_name").SetAsWideString(font.Name.toStdU16String());
    sp.ParamByName("campaigns_font_size").SetAsInteger(font.Size);
    sp.ParamByName("campaigns_font_style").SetAsInteger(font.Style);
    sp.ParamByName("campaigns_font_color").SetAsInteger(font.Color);
}

TfmPromoCamp::TfmPromoCamp(ibx::TIBDatabase* db, QWidget* parent)
    : TCampEditor(db, parent), content_(std::make_unique<Ui::TfmPromoCamp>()) {
    setObjectName(QStringLiteral("fmPromoCamp"));
    setWindowTitle(QStringLiteral("Edit Promotion Campaign"));
    laTitle->setText(QStringLiteral("Edit settings of the promotion campaign."));
    auto* holder = new QWidget(this);
    content_->setupUi(holder);
    // The preview and its buttons stand in the left column, the fields in the right one.
    imLogo = new TPromoPreview(content_->paPreviewArea);
    laTextOverImage = imLogo->laTextOverImage();
    content_->layPreviewArea->insertWidget(0, imLogo, 0, Qt::AlignHCenter);
    LeftContentLayout()->addWidget(content_->paPreviewArea);
    ContentLayout()->addWidget(content_->paPromoFields);
    holder->hide();

    edMessage = content_->edMessage;
    edSendAs = content_->edSendAs;
    edValidIn = content_->edValidIn;
    cbEnableCoupon = content_->cbEnableCoupon;
    laValidIn = content_->laValidIn;
    sbTop = content_->sbTop;
    sbMiddle = content_->sbMiddle;
    sbBottom = content_->sbBottom;
    sbLeft = content_->sbLeft;
    sbCenter = content_->sbCenter;
    sbRight = content_->sbRight;
    sbSelectFile = content_->sbSelectFile;
    sbFont = content_->sbFont;

    vertical_ = new QButtonGroup(this);
    for (QToolButton* b : {sbTop, sbMiddle, sbBottom})
        vertical_->addButton(b);
    horizontal_ = new QButtonGroup(this);
    for (QToolButton* b : {sbLeft, sbCenter, sbRight})
        horizontal_->addButton(b);

    connect(edMessage, &QLineEdit::textChanged, this, [this] { edMessageChange(); });
    // Runs on every change of the box, the program's own included.
    connect(cbEnableCoupon, &QCheckBox::toggled, this, [this] { cbEnableCouponClick(); });
    connect(sbSelectFile, &QToolButton::clicked, this, [this] { sbSelectFileClick(); });
    connect(sbFont, &QToolButton::clicked, this, [this] { sbFontClick(); });
    connect(sbLeft, &QToolButton::clicked, this, [this] { sbLeftClick(); });
    connect(sbCenter, &QToolButton::clicked, this, [this] { sbCenterClick(); });
    connect(sbRight, &QToolButton::clicked, this, [this] { sbRightClick(); });
    connect(sbTop, &QToolButton::clicked, this, [this] { sbTopClick(); });
    connect(sbMiddle, &QToolButton::clicked, this, [this] { sbMiddleClick(); });
    connect(sbBottom, &QToolButton::clicked, this, [this] { sbBottomClick(); });

    OpenDialog = PromoPictureDialog();
    resize(514, 422);
    FormCreate();
}

TfmPromoCamp::~TfmPromoCamp() = default;

void TfmPromoCamp::ContentDefaults() {
    edSendAs->setText(QStringLiteral("promo"));
    imLogo->SetPicture(QImage());
    imLogo->SetFont(TPromoFont());
    sbMiddle->setChecked(true);
    sbCenter->setChecked(true);
    imLogo->SetHAlign(1);
    imLogo->SetVAlign(1);
    cbEnableCoupon->setChecked(true);
    cbEnableCouponClick();
}

void TfmPromoCamp::edMessageChange() {
    imLogo->SetText(PromoPreviewText(edMessage->text(), cbEnableCoupon->isChecked()));
}

void TfmPromoCamp::cbEnableCouponClick() {
    edMessageChange();
    ShowCouponValidity(cbEnableCoupon->isChecked(), laValidIn, edValidIn);
}

void TfmPromoCamp::sbLeftClick() {
    imLogo->SetHAlign(0);
}
void TfmPromoCamp::sbCenterClick() {
    imLogo->SetHAlign(1);
}
void TfmPromoCamp::sbRightClick() {
    imLogo->SetHAlign(2);
}
void TfmPromoCamp::sbTopClick() {
    imLogo->SetVAlign(0);
}
void TfmPromoCamp::sbMiddleClick() {
    imLogo->SetVAlign(1);
}
void TfmPromoCamp::sbBottomClick() {
    imLogo->SetVAlign(2);
}

void TfmPromoCamp::sbFontClick() {
    ChoosePromoFont(this, FontDialog, imLogo);
}

void TfmPromoCamp::sbSelectFileClick() {
    ChoosePromoPicture(this, OpenDialog, edSendAs, imLogo);
}

QString TfmPromoCamp::ContentColumns() const {
    return QStringLiteral(", CAMPAIGNS_DATA, CAMPAIGNS_MESSAGE, CAMPAIGNS_USE_COUPON, CAMPAIGNS_VALIGN, "
                          "CAMPAIGNS_HALIGN, CAMPAIGNS_FONT_NAME, CAMPAIGNS_FONT_SIZE, CAMPAIGNS_FONT_STYLE, "
                          "CAMPAIGNS_FONT_COLOR, CAMPAIGNS_VALID_IN");
}

void TfmPromoCamp::LoadContent(const ibx::TIBQuery& q) {
    auto intField = [&q](const char* name, int fallback) {
        const ibx::TIBXSQLVAR& f = q.FieldByName(name);
        return f.IsNull() ? fallback : f.AsInteger();
    };
    const ibx::TIBXSQLVAR& data = q.FieldByName("CAMPAIGNS_DATA");
    if (!data.IsNull()) {
        const ibx::TBytes b = data.AsBytes();
        if (!b.empty()) {
            // A stored picture that cannot be decoded leaves the preview empty; the
            // campaign's other fields still load and can be corrected.
            try {
                imLogo->SetPicture(
                    DecodeJpeg(QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()))));
            } catch (const std::exception& e) {
                ShowException(this, e);
            }
        }
    }
    TPromoFont font = imLogo->Font();
    const QString face = FieldText(q, "CAMPAIGNS_FONT_NAME");
    if (!face.isEmpty())
        font.Name = face;
    font.Size = intField("CAMPAIGNS_FONT_SIZE", font.Size);
    font.Style = intField("CAMPAIGNS_FONT_STYLE", font.Style);
    font.Color = intField("CAMPAIGNS_FONT_COLOR", font.Color);
    imLogo->SetFont(font);
    edMessage->setText(FieldText(q, "CAMPAIGNS_MESSAGE"));
    edSendAs->setText(StripFileExt(FieldText(q, "CAMPAIGNS_FILE_NAME")));
    const int halign = intField("CAMPAIGNS_HALIGN", 1);
    (halign == 0 ? sbLeft : halign == 1 ? sbCenter : sbRight)->setChecked(true);
    imLogo->SetHAlign(halign == 0 ? 0 : halign == 1 ? 1 : 2);
    const int valign = intField("CAMPAIGNS_VALIGN", 1);
    (valign == 0 ? sbTop : valign == 1 ? sbMiddle : sbBottom)->setChecked(true);
    imLogo->SetVAlign(valign == 0 ? 0 : valign == 1 ? 1 : 2);
    cbEnableCoupon->setChecked(intField("CAMPAIGNS_USE_COUPON", 0) == 1);
    if (cbEnableCoupon->isChecked())
        edValidIn->setText(FieldText(q, "CAMPAIGNS_VALID_IN"));
}

void TfmPromoCamp::AfterLoad() {
    edMessageChange();
}

QString TfmPromoCamp::FileNameText() const {
    return edSendAs->text();
}

QString TfmPromoCamp::StoredFileName() const {
    return StripFileExt(edSendAs->text()) + QStringLiteral(".jpg");
}

bool TfmPromoCamp::CheckContent() {
    if (imLogo->Picture().isNull()) {
        ErrorOK(this, TranslateText(STR_IMAGE));
        return false;
    }
    return CheckCouponValidity(this, cbEnableCoupon, laValidIn, edValidIn);
}

void TfmPromoCamp::FillContent(ibx::TIBStoredProc& sp, bool) {
    TPromotionParams p;
    // The whole picture, re-encoded; the preview's scaling is for display only.
    p.Jpeg = EncodeJpeg(imLogo->Picture());
    p.VAlign = PromoVAlignCode(sbMiddle, sbBottom);
    p.HAlign = PromoHAlignCode(sbLeft, sbCenter);
    p.UseCoupon = cbEnableCoupon->isChecked();
    p.Message = edMessage->text();
    p.ValidIn = edValidIn->text();
    SetPromotionParams(sp, p);
    SetFontParams(sp, imLogo->Font());
}
