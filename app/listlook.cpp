#include "listlook.h"

#include <QStyledItemDelegate>
#include <QTreeWidget>

namespace {

// The view marks its current cell even when nothing is selected (it takes the first row on
// focus), and the style fills that mark like a selection: an operator then sees a row that
// Edit, Delete or OK do not act on. Only a selected row shows as one.
class TSelectedOnlyDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (!(option->state & QStyle::State_Selected))
            option->state &= ~QStyle::State_HasFocus;
    }
};

} // namespace

void SetReportListLook(QTreeWidget* list) {
    list->setStyleSheet(QStringLiteral(
        "QTreeWidget::item { border-right: 1px solid palette(midlight); border-bottom: 1px solid palette(midlight); }"
        "QTreeWidget::item:selected { background: palette(highlight); color: palette(highlighted-text); }"));
    // The row-wide focus mark is drawn by the view itself; per cell it passes the delegate.
    list->setAllColumnsShowFocus(false);
    SetSelectedOnlyLook(list);
}

void SetSelectedOnlyLook(QAbstractItemView* view) {
    view->setItemDelegate(new TSelectedOnlyDelegate(view));
}
