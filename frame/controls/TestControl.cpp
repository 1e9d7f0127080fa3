// The frame's own test control.
#include "frame/controls/TestControl.h"

#include <cstdio>

namespace vkr::frame {

int FrameTestControl::liveCount = 0;

const char* FrameTestControl::TemplateText() const {
  return "1 DIALOGEX 0, 0, 200, 80\n"
         "STYLE DS_CONTROL | WS_CHILD\n"
         "FONT 8, \"MS Sans Serif\"\n"
         "BEGIN\n"
         "  LTEXT \"Frame test control\", -1, 8, 8, 120, 8\n"
         "  EDITTEXT 100, 8, 24, 100, 12\n"
         "  DEFPUSHBUTTON \"Close\", 101, 142, 58, 50, 14\n"
         "END\n";
}

BOOL FrameTestControl::ProcessWindowMessage(HWND, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                            DWORD mapId) {
  if (mapId != 0) return FALSE;
  BOOL handled = TRUE;
  if (message == kCloseRequestMessage) {
    result = OnCloseRequest(message, wParam, lParam, handled);
    return handled;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == 101 && HIWORD(wParam) == BN_CLICKED) {
    result = OnCloseClicked(HIWORD(wParam), LOWORD(wParam), reinterpret_cast<HWND>(lParam), handled);
    return handled;
  }
  return FALSE;
}

LRESULT FrameTestControl::OnCloseRequest(UINT, WPARAM, LPARAM, BOOL&) {
  m_calls.push_back("close request");
  if (onCloseRequest) onCloseRequest();
  return 0;
}

// The close button asks for the close as a user interface does: through its own window's queue.
LRESULT FrameTestControl::OnCloseClicked(WORD, WORD, HWND, BOOL&) {
  m_calls.push_back("close clicked");
  PostMessageW(m_hWnd, kCloseRequestMessage, 0, 0);
  return 0;
}

HRESULT FrameTestControl::GetTypeInfoCount(UINT* count) {
  if (count) *count = 0;
  return S_OK;
}
HRESULT FrameTestControl::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT FrameTestControl::Init(BSTR id, BSTR call, IDtm* theDtm, VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  *result = VARIANT_FALSE;
  m_calls.push_back(std::string("Init") + (m_hWnd ? " active" : " inactive"));
  if (!id || !call) return S_FALSE;
  invokeId.assign(id, SysStringLen(id));
  functionCall.assign(call, SysStringLen(call));
  dtm = theDtm;
  *result = VARIANT_TRUE;
  return S_OK;
}

HRESULT FrameTestControl::PrepareToRelease(VARIANT_BOOL* result) {
  if (!result) return E_POINTER;
  m_calls.push_back(std::string("PrepareToRelease") + (m_hWnd ? " active" : " inactive") + " -> " +
                    (mayRelease ? "1" : "0"));
  *result = mayRelease ? VARIANT_TRUE : VARIANT_FALSE;
  if (mayRelease) dtm = nullptr;
  return S_OK;
}

HRESULT FrameTestControl::OnInitNew() {
  m_calls.push_back("InitNew");
  return S_OK;
}

bool FrameTestControl::PreTranslateAccelerator(MSG* msg, HRESULT*) {
  char line[64];
  std::snprintf(line, sizeof line, "TranslateAccelerator %u %u", msg->message, static_cast<unsigned>(msg->wParam));
  m_calls.push_back(line);
  return false;
}

FrameTestControl* AsFrameTestControl(IUnknown* control) {
  if (!control) return nullptr;
  ComPtr<IRecorder> recorder;
  if (FAILED(control->QueryInterface(IRecorder::iid, recorder.PutVoid())) || !recorder) return nullptr;
  return dynamic_cast<FrameTestControl*>(recorder.Get());
}

}  // namespace vkr::frame
