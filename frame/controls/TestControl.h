// The frame's own test control: a small composite control (a dialog from a template in memory)
// that implements IDtmActiveXControl and records what the frame does with it. It shows the road
// from IFdtActiveXHost to a painted user interface before the DTM has controls of its own, and
// lets tests drive the frame's side: what Init got, what PrepareToRelease answers, the close
// request (0x1600) from inside the control's own window.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "frame/controls/OutsideControls.h"
#include "include/FdtInterfaces.h"
#include "platform/platform.h"

namespace vkr::frame {

inline constexpr CLSID CLSID_FrameTestControl = vkr::MakeGuid("B7D0F1A2-6C53-4A9B-8E12-3F4C5D6E7F10");
inline constexpr const char16_t* kProgIdFrameTestControl = u"VornFrame.TestControl";
// The private close request a user interface posts to its own window.
inline constexpr UINT kCloseRequestMessage = 0x1600;

class FrameTestControl : public vkr::atl::CompositeControl<FrameTestControl, IDtmActiveXControl, IRecorder> {
 public:
  static constexpr UINT IDD = 1;
  // Live objects of the class, for tests that check the control is gone.
  static int liveCount;

  FrameTestControl() { ++liveCount; }
  ~FrameTestControl() override { --liveCount; }

  // What PrepareToRelease answers (*result).
  bool mayRelease = true;
  // Runs for the close request (0x1600) inside the control's window procedure.
  std::function<void()> onCloseRequest;
  // Init's arguments as they came.
  std::u16string invokeId;
  std::u16string functionCall;
  ComPtr<IDtm> dtm;

  const char* TemplateText() const override;
  CLSID ObjectClsid() const override { return CLSID_FrameTestControl; }
  const std::vector<std::string>& Calls() override { return m_calls; }
  // The close request and the close button; the window's other messages go to the default.
  BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId = 0) override;
  LRESULT OnCloseRequest(UINT, WPARAM, LPARAM, BOOL&);
  LRESULT OnCloseClicked(WORD, WORD, HWND, BOOL&);

  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  // IDtmActiveXControl
  HRESULT Init(BSTR invokeId, BSTR functionCall, IDtm* dtm, VARIANT_BOOL* result) override;
  HRESULT PrepareToRelease(VARIANT_BOOL* result) override;

  HRESULT OnInitNew() override;
  bool PreTranslateAccelerator(MSG* msg, HRESULT* result) override;

 private:
  std::vector<std::string> m_calls;
};

// The test control behind a control's IUnknown, or null.
FrameTestControl* AsFrameTestControl(IUnknown* control);

}  // namespace vkr::frame
