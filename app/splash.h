// The start-up picture, also shown (with its close button) as the About box.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class fmSplash;
}
class QLabel;
class QPushButton;

class TfmSplash : public QDialog {
    Q_OBJECT

public:
    explicit TfmSplash(QWidget* owner = nullptr);
    ~TfmSplash() override;

    QLabel* imPicture = nullptr;
    QLabel* laVersion = nullptr;
    QPushButton* btClose = nullptr;

private:
    std::unique_ptr<Ui::fmSplash> ui_;
};

// The splash form while it exists (start-up or About).
extern TfmSplash* fmSplash;
