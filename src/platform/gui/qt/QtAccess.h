#pragma once
// Reaching the widgets behind the model, for tests of the Qt backend.

#include "platform/gui/Gui.h"

class QWidget;

namespace vm::gui::qt {

QWidget* WidgetOf(Window& window);   // null when unloaded
QWidget* WidgetOf(Control& control); // null when unloaded

} // namespace vm::gui::qt
