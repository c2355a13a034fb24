#include "editdevice.h"

#include "fieldcheck.h"
#include "msgbox.h"
#include "searchfordevices.h"
#include "translation.h"
#include "ui_editdevice.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>

const TDeviceListKind WhiteListKind{"WHITE_LIST", "fmWhiteList", "White List", "Manage the Wite List",
                                    "fmEditDeviceWL"};
const TDeviceListKind BlackListKind{"BLACK_LIST", "fmBlackList", "Black List", "Manage the Black List",
                                    "fmEditDeviceBL"};

namespace {

// Upper-cases whatever reaches the edit through the keyboard or a paste; the length limit
// is the edit's own.
class TUpperCaseValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

} // namespace

TfmEditDevice::TfmEditDevice(const TDeviceListKind& kind, ibx::TIBTransaction* tr, QWidget* owner)
    : QDialog(owner), kind_(kind), ui_(std::make_unique<Ui::TfmEditDevice>()) {
    ui_->setupUi(this);
    setObjectName(QString::fromLatin1(kind.EntryForm));
    laTitle = ui_->laTitle;
    edMAC = ui_->edMAC;
    edName = ui_->edName;
    cbEnabled = ui_->cbEnabled;
    btFind = ui_->btFind;
    btOK = ui_->btOK;
    btCancel = ui_->btCancel;
    edMAC->setValidator(new TUpperCaseValidator(edMAC));

    const std::string table = kind.Table;
    spAdd = std::make_unique<ibx::TIBStoredProc>();
    spAdd->SetName(u"spAdd");
    spAdd->SetDatabase(tr ? tr->DefaultDatabase() : nullptr);
    spAdd->SetTransaction(tr);
    spAdd->SetStoredProcName(table + "_ADD");
    spEdit = std::make_unique<ibx::TIBStoredProc>();
    spEdit->SetName(u"spEdit");
    spEdit->SetDatabase(tr ? tr->DefaultDatabase() : nullptr);
    spEdit->SetTransaction(tr);
    spEdit->SetStoredProcName(table + "_UPDATE");

    connect(btOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(btCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(btFind, &QPushButton::clicked, this, [this] {
        try {
            btFindClick();
        } catch (const std::exception& e) {
            ShowException(this, e);
        }
    });
}

TfmEditDevice::~TfmEditDevice() = default;

void TfmEditDevice::showEvent(QShowEvent* e) {
    TranslateForm(this);
    QDialog::showEvent(e);
}

void TfmEditDevice::btFindClick() {
    TfmSearchForDevices picker(this);
    if (picker.exec() != QDialog::Accepted || !picker.selectedDevice())
        return;
    edMAC->setText(picker.selectedAddress().toUpper());
    edName->setText(picker.selectedCaption());
}

void TfmEditDevice::Store() {
    ibx::TIBStoredProc& sp = EntryId != 0 ? *spEdit : *spAdd;
    sp.ParamByName("MAC").SetAsWideString(edMAC->text().toStdU16String());
    sp.ParamByName("NAME").SetAsWideString(edName->text().toStdU16String());
    sp.ParamByName("ENABLED").SetAsInteger(cbEnabled->isChecked() ? 1 : 0);
    if (EntryId != 0) {
        sp.ParamByName("ID").SetAsInteger(EntryId);
        sp.ExecProc();
    } else {
        sp.ExecProc();
        EntryId = sp.ParamByName("ID").AsInteger();
    }
    sp.Close();
}

void TfmEditDevice::done(int r) {
    if (r == QDialog::Accepted) {
        // The procedures refuse an entry without an address; the field is named here instead.
        if (!CheckNotEmpty(this, edMAC, FieldCaption(edMAC)))
            return;
        try {
            Store();
        } catch (const std::exception& e) {
            // The operator corrects the entry and retries, or cancels.
            ShowException(this, e);
            return;
        }
    }
    QDialog::done(r);
}
