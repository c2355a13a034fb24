// The look every report-style list of the program shares: grid lines between the cells, the
// selection kept visible when the list loses focus, and a highlight on selected rows only.
#pragma once

class QTreeWidget;

void SetReportListLook(QTreeWidget* list);
