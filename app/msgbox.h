// The one way the application asks and tells the user things in a modal box.
// Tests install a TMessageBoxScript: while it lives, no box is shown; each question is
// recorded and answered from the script's queue, so a modal question never blocks a test.
#pragma once

#include <QString>

#include <exception>
#include <vector>

class QWidget;

enum class TMsgDlgType { Confirmation, Warning, Error, Information };
enum class TMsgButtons { YesNo, OK };
enum class TMsgResult { Yes, No, OK };

struct TMsgRecord {
    TMsgDlgType type;
    TMsgButtons buttons;
    QString title;
    QString text;
    TMsgResult answer;
};

// The box's title for its kind: "Confirm", "Warning", "Error" or "Information".
QString MessageTitle(TMsgDlgType type);

TMsgResult MessageDlg(QWidget* parent, const QString& text, TMsgDlgType type, TMsgButtons buttons);

// Confirmation before deleting or closing; true on Yes.
bool ConfirmYesNo(QWidget* parent, const QString& text);
// Warning question (discarding changes, configuring the connection); true on Yes.
bool WarningYesNo(QWidget* parent, const QString& text);
// Missing input.
void WarningOK(QWidget* parent, const QString& text);
// Failures of the hardware, the library or a save.
void ErrorOK(QWidget* parent, const QString& text);
void InformationOK(QWidget* parent, const QString& text);
// The application's display of an exception: an error box with its message, or with
// STR_UNSTORABLE_TEXT when the database refused characters it cannot hold.
void ShowException(QWidget* parent, const std::exception& e);
// Whether the database refused a text because it cannot hold some of its characters.
bool IsUnstorableText(const std::exception& e);

class TMessageBoxScript {
public:
    TMessageBoxScript();
    ~TMessageBoxScript();
    TMessageBoxScript(const TMessageBoxScript&) = delete;
    TMessageBoxScript& operator=(const TMessageBoxScript&) = delete;

    // Queues the answer for the next Yes/No question. OK boxes are acknowledged without
    // taking an answer. A question asked with an empty queue gets No and counts as unexpected.
    TMessageBoxScript& Answer(TMsgResult answer);
    const std::vector<TMsgRecord>& Asked() const { return asked_; }
    int Unexpected() const { return unexpected_; }
    int Pending() const { return static_cast<int>(queue_.size()); }
    void Clear() { asked_.clear(); }

    // Used by MessageDlg.
    TMsgResult Take(TMsgDlgType type, TMsgButtons buttons, const QString& title, const QString& text);

private:
    std::vector<TMsgResult> queue_;
    std::vector<TMsgRecord> asked_;
    int unexpected_ = 0;
    TMessageBoxScript* previous_;
};
