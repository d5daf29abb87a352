// Widgets for the rows of a dialog template.
#pragma once
#include <QWidget>

#include "app/dialog/dialog_template.h"

namespace fg::app {

// Creates the widget of one template row as a child of parent, placed at the row's rectangle in
// pixels and styled as the row says. A drop-down list keeps its closed height at that of a
// single-line field; the rest of its rectangle is room for the dropped list.
QWidget* CreateTemplateControl(const ControlTemplate& row, QWidget* parent);

}  // namespace fg::app
