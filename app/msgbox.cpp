#include "msgbox.h"

#include "ibx/IBError.h"
#include "translation.h"

#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace {

TMessageBoxScript* currentScript = nullptr;
// What a title bar takes besides the title: its icon and buttons, with some air.
constexpr int MinimumTitleRoom = 160;

} // namespace

QString MessageTitle(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::Confirmation:
        return QStringLiteral("Confirm");
    case TMsgDlgType::Warning:
        return QStringLiteral("Warning");
    case TMsgDlgType::Error:
        return QStringLiteral("Error");
    case TMsgDlgType::Information:
        break;
    }
    return QStringLiteral("Information");
}

TMsgResult MessageDlg(QWidget* parent, const QString& text, TMsgDlgType type, TMsgButtons buttons) {
    const QString title = MessageTitle(type);
    if (currentScript)
        return currentScript->Take(type, buttons, title, text);

    QMessageBox::Icon icon = QMessageBox::Information;
    switch (type) {
    case TMsgDlgType::Confirmation:
        icon = QMessageBox::Question;
        break;
    case TMsgDlgType::Warning:
        icon = QMessageBox::Warning;
        break;
    case TMsgDlgType::Error:
        icon = QMessageBox::Critical;
        break;
    case TMsgDlgType::Information:
        break;
    }
    QMessageBox box(icon, title, text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::PlainText); // texts come from a user-edited file and from errors
    // A box of a short text is narrow, and the window manager's buttons would leave its title
    // no room: it is made wide enough for the title beside them.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(box.fontMetrics().horizontalAdvance(title) + MinimumTitleRoom, 0,
                                      QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
    if (buttons == TMsgButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? TMsgResult::Yes : TMsgResult::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return TMsgResult::OK;
}

bool ConfirmYesNo(QWidget* parent, const QString& text) {
    return MessageDlg(parent, text, TMsgDlgType::Confirmation, TMsgButtons::YesNo) == TMsgResult::Yes;
}

bool WarningYesNo(QWidget* parent, const QString& text) {
    return MessageDlg(parent, text, TMsgDlgType::Warning, TMsgButtons::YesNo) == TMsgResult::Yes;
}

void WarningOK(QWidget* parent, const QString& text) {
    MessageDlg(parent, text, TMsgDlgType::Warning, TMsgButtons::OK);
}

void ErrorOK(QWidget* parent, const QString& text) {
    MessageDlg(parent, text, TMsgDlgType::Error, TMsgButtons::OK);
}

void InformationOK(QWidget* parent, const QString& text) {
    MessageDlg(parent, text, TMsgDlgType::Information, TMsgButtons::OK);
}

void ShowException(QWidget* parent, const std::exception& e) {
    // The engine's own words for it ("Cannot transliterate character between character
    // sets") tell an operator nothing.
    ErrorOK(parent, IsUnstorableText(e) ? TranslateText(STR_UNSTORABLE_TEXT) : QString::fromUtf8(e.what()));
}

bool IsUnstorableText(const std::exception& e) {
    const auto* db = dynamic_cast<const ibx::EIBError*>(&e);
    return db && db->CannotTransliterate();
}

TMessageBoxScript::TMessageBoxScript() : previous_(currentScript) {
    currentScript = this;
}

TMessageBoxScript::~TMessageBoxScript() {
    currentScript = previous_;
}

TMessageBoxScript& TMessageBoxScript::Answer(TMsgResult answer) {
    queue_.push_back(answer);
    return *this;
}

TMsgResult TMessageBoxScript::Take(TMsgDlgType type, TMsgButtons buttons, const QString& title, const QString& text) {
    TMsgResult answer = TMsgResult::OK;
    // An OK box can only be acknowledged, so only questions take answers from the queue.
    if (buttons == TMsgButtons::YesNo) {
        if (queue_.empty()) {
            ++unexpected_;
            answer = TMsgResult::No;
        } else {
            answer = queue_.front() == TMsgResult::No ? TMsgResult::No : TMsgResult::Yes;
            queue_.erase(queue_.begin());
        }
    }
    asked_.push_back(TMsgRecord{type, buttons, title, text, answer});
    return answer;
}
