// Stand-ins for the outside controls the user interfaces host or create: the message mediator,
// the parameter-group display control, the chart, the header display (item 217) and the status
// display (item 218). Each records what it is told, as lines of text, and answers what the pages
// ask; only the chart draws (its samples, in a window of its own), the others leave the host
// window empty (it carries their placement).
//
// The frame host process registers them as COM classes (RegisterOutsideControls), by class id and
// ProgID, so that dialog templates and pages create them as they would the real ones.
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

namespace vkr::frame {

// What a stand-in was told, in order: "SetUnitText 45", "AddSample 1 2.500", ...
struct IRecorder : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("B7D0F1A2-6C53-4A9B-8E12-3F4C5D6E7F01");
  using Base = IUnknown;
  virtual const std::vector<std::string>& Calls() = 0;
};

// The calls a stand-in recorded; empty for an object that is no stand-in.
std::vector<std::string> RecordedCalls(IUnknown* control);

// The text of a HART engineering-unit code ("Metres (m)" for 45, "Feet (ft)" for 44) and of a
// transfer-function code; empty when the code is unknown.
std::u16string HartUnitText(BYTE code);
std::u16string TransferFunctionText(BYTE code);

// Test hook of the parameter-group display control: fires its event to every advised sink.
// E_NOINTERFACE when the object is no display control stand-in.
HRESULT FireParamGroupDisplayEvent(IUnknown* control, LONG controlId, LONG kind, const VARIANT& data,
                                   const VARIANT& extra);

// The chart's state, for tests: the sampling interval, visible pens, samples and ranges per pen.
struct ChartState {
  LONG interval = 0;
  bool running = false;
  bool visible[5] = {true, true, true, true, true};
  std::vector<double> samples[5];
  double minimum[5] = {};
  double maximum[5] = {};
  int refreshes = 0;
};
bool GetChartState(IUnknown* control, ChartState* state);

// The header display's last value per parameter id (VT_EMPTY when none came).
HRESULT GetHeaderDisplayValue(IUnknown* control, LONG parameterId, VARIANT* value);

// Registers the five classes and the frame's test control (TestControl.h) with the process (CoRegisterClassObject) and their ProgIDs and user
// types in the registry. Undone by RevokeOutsideControls; both are counted, so nested scopes work.
HRESULT RegisterOutsideControls();
void RevokeOutsideControls();

// The message mediators started on this thread, first started first: each is offered the
// message when it is a key message or WM_TIMER aimed at its window or inside it. True when one
// consumed it (its sink answered S_OK). The frame's host-loop filter calls it first.
bool RunMessageMediators(MSG* msg);

}  // namespace vkr::frame
