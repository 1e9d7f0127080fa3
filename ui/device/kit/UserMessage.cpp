// User messages through the function container (see UserMessage.h).
#include "ui/device/kit/UserMessage.h"

#include "include/DtmInterfaces.h"

namespace vkr::dui {

HRESULT ShowDeviceMessage(IUnknown* dtm, std::u16string_view caption, std::u16string_view text, LONG style,
                          LONG* answer) {
  if (answer) *answer = 0;
  vkr::ComPtr<IovFdtActiveXContainer> container;
  if (!dtm || FAILED(dtm->QueryInterface(IovFdtActiveXContainer::iid, container.PutVoid())) || !container)
    return E_NOINTERFACE;
  vkr::Bstr title(caption), message(text);
  LONG chosen = 0;
  // The container takes the caption as its title and the message as its text.
  HRESULT hr = container->ShowUserMessage(title, message, vkr::I4(style), &chosen);
  if (answer) *answer = chosen;
  return hr;
}

}  // namespace vkr::dui
