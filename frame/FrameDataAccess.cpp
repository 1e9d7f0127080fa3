// The stand-in frame's side of single device data access: the DTM's answers to the item-list,
// read and write requests, recorded and checked against the frame's schema set.
#include "frame/FrameContainer.h"

namespace vkr::frame {
namespace {

std::string Text(BSTR s) { return s ? Utf16ToUtf8(std::u16string_view(s, SysStringLen(s))) : std::string(); }

}  // namespace

const FrameContainer::DataAccessAnswer* FrameContainer::DataAccessAnswerTo(const std::string& invokeId) const {
  for (const DataAccessAnswer& answer : dataAccessAnswers)
    if (answer.invokeId == invokeId) return &answer;
  return nullptr;
}

namespace {

HRESULT Record(FrameContainer* frame, const char* kind, BSTR invokeId, BSTR document) {
  FrameContainer::DataAccessAnswer answer;
  answer.kind = kind;
  answer.invokeId = Text(invokeId);
  answer.document = Text(document);
  std::string reason;
  answer.valid = document && FrameContainer::Validate(document, &reason) == S_OK;
  frame->dataAccessAnswers.push_back(answer);
  frame->notifications.push_back(std::string(kind) + " answer " + answer.invokeId + (answer.valid ? "" : ": invalid document"));
  if (answer.valid) return S_OK;
  frame->invalidDocuments.push_back(reason.empty() ? "not loaded" : reason);
  return E_INVALIDARG;
}

}  // namespace

HRESULT FrameContainer::OnItemListResponse(BSTR invokeId, BSTR itemList) { return Record(this, "items", invokeId, itemList); }
HRESULT FrameContainer::OnReadResponse(BSTR invokeId, BSTR itemList) { return Record(this, "read", invokeId, itemList); }
HRESULT FrameContainer::OnWriteResponse(BSTR invokeId, BSTR itemList) { return Record(this, "write", invokeId, itemList); }

}  // namespace vkr::frame
