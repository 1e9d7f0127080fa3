// The control-name tables of the device user interfaces: per class, the controls of its dialog
// that a translation file may address by dialog id ("Control[@resId]") or by resource symbol
// ("Control[@name]"): labels, group boxes, buttons, check boxes, bitmaps and hosted controls. Value
// fields are left out: their texts are the device's. Each table ends with id 0.
#pragma once

#include "ui/framework/ActiveXTranslation.h"

namespace vkr::dui {

extern const ControlNameEntry kAdvancedControlNames[];
extern const ControlNameEntry kCommandControlNames[];
extern const ControlNameEntry kDeviceControlNames[];
extern const ControlNameEntry kDiagControlNames[];
extern const ControlNameEntry kEchoControlNames[];
extern const ControlNameEntry kHartControlNames[];
extern const ControlNameEntry kInfoControlNames[];
extern const ControlNameEntry kProcessControlNames[];
extern const ControlNameEntry kRawCommandControlNames[];
extern const ControlNameEntry kSetupControlNames[];
extern const ControlNameEntry kStatusControlNames[];
extern const ControlNameEntry kValuesControlNames[];
extern const ControlNameEntry kOnlineParameterizationControlNames[];
extern const ControlNameEntry kTrendViewControlNames[];
extern const ControlNameEntry kOutputLevelSelectionControlNames[];

}  // namespace vkr::dui
