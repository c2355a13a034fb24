// The look every report-style list of the program shares: grid lines between the cells, the
// selection kept visible when the list loses focus, and a highlight on selected rows only.
#pragma once

class QAbstractItemView;
class QTreeWidget;

void SetReportListLook(QTreeWidget* list);

// Only a selected item looks like one: the view's current item, which it takes on focus
// without selecting it, gets no mark of its own. For lists of any kind (the report look
// includes it).
void SetSelectedOnlyLook(QAbstractItemView* view);
