// The texts of the function container: the function elements of the function list, the
// function-call document, and the user-message document with its mapping from message-box flags
// to words and from the frame's reply to an answer.
#pragma once

#include <string>

#include "platform/platform.h"
#include "xml/Conversions.h"
#include "xml/XmlHelpers.h"

namespace vkr {

// Message-box answers (the Windows IDOK .. IDNO values).
inline constexpr LONG kAnswerOk = 1;
inline constexpr LONG kAnswerCancel = 2;
inline constexpr LONG kAnswerAbort = 3;
inline constexpr LONG kAnswerRetry = 4;
inline constexpr LONG kAnswerIgnore = 5;
inline constexpr LONG kAnswerYes = 6;
inline constexpr LONG kAnswerNo = 7;

// Buttons in bits 0-3, icon in bits 4-7, default button in bits 8-11 (0 first, 1 second, 2 third).
inline ULONG MessageButtons(ULONG flags) { return flags & 0x0F; }
inline ULONG MessageIcon(ULONG flags) { return flags & 0xF0; }
inline ULONG MessageDefaultButton(ULONG flags) { return (flags >> 8) & 0x0F; }

// The answer that stands when the user is not asked: the default button of the flags.
inline LONG DefaultMessageAnswer(ULONG flags) {
  const ULONG def = MessageDefaultButton(flags);
  switch (MessageButtons(flags)) {
    case 1: return def == 1 ? kAnswerCancel : kAnswerOk;
    case 2: return def == 1 ? kAnswerRetry : def == 2 ? kAnswerIgnore : kAnswerAbort;
    case 3: return def == 1 ? kAnswerNo : def == 2 ? kAnswerCancel : kAnswerYes;
    case 4: return def == 1 ? kAnswerNo : kAnswerYes;
    case 5: return def == 1 ? kAnswerCancel : kAnswerRetry;
    default: return kAnswerOk;
  }
}

inline const char16_t* MessageTypeWord(ULONG flags) {
  switch (MessageIcon(flags)) {
    case 0x10: return u"messageStop";
    case 0x20: return u"messageQuestion";
    case 0x30: return u"messageExclamation";
    default: return u"messageInformation";
  }
}

// The buttons word and the default-button word of the flags.
inline void MessageButtonWords(ULONG flags, const char16_t** buttons, const char16_t** def) {
  const ULONG d = MessageDefaultButton(flags);
  switch (MessageButtons(flags)) {
    case 1:
      *buttons = u"buttonsOkCancel";
      *def = d == 1 ? u"buttonCancel" : u"buttonOk";
      return;
    case 2:
      *buttons = u"buttonsAbortRetryIgnore";
      *def = d == 1 ? u"buttonRetry" : d == 2 ? u"buttonIgnore" : u"buttonAbort";
      return;
    case 3:
      *buttons = u"buttonsYesNoCancel";
      *def = d == 1 ? u"buttonNo" : d == 2 ? u"buttonCancel" : u"buttonYes";
      return;
    case 4:
      *buttons = u"buttonsYesNo";
      *def = d == 1 ? u"buttonNo" : u"buttonYes";
      return;
    case 5:
      *buttons = u"buttonsRetryCancel";
      *def = d == 1 ? u"buttonCancel" : u"buttonRetry";
      return;
    default:
      *buttons = u"buttonsOk";
      *def = u"buttonOk";
      return;
  }
}

// The frame's reply word as an answer; any other word is 0.
inline LONG MessageAnswerFromWord(const std::u16string& word) {
  static const struct {
    const char16_t* word;
    LONG answer;
  } kWords[] = {{u"buttonOk", kAnswerOk},         {u"buttonCancel", kAnswerCancel}, {u"buttonAbort", kAnswerAbort},
                {u"buttonRetry", kAnswerRetry},   {u"buttonIgnore", kAnswerIgnore}, {u"buttonYes", kAnswerYes},
                {u"buttonNo", kAnswerNo}};
  for (const auto& w : kWords)
    if (word == w.word) return w.answer;
  return 0;
}

// The user-message document; title and text are escaped for an attribute value.
inline HRESULT FormatUserMessage(BSTR title, BSTR text, ULONG flags, BSTR* document) {
  Bstr escapedTitle, escapedText;
  HRESULT hr = XmlEscapeText(title, escapedTitle.Put());
  if (FAILED(hr)) return hr;
  hr = XmlEscapeText(text, escapedText.Put());
  if (FAILED(hr)) return hr;
  const char16_t* buttons = nullptr;
  const char16_t* def = nullptr;
  MessageButtonWords(flags, &buttons, &def);
  return BstrFormat(document,
                    u"<?xml version=\"1.0\"?> <FDT \txmlns=\"x-schema:FDTUserMessageSchema.xml\" "
                    u"\txmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\"> \t<FDTUserMessage "
                    u"\t\tmessageType=\"%s\" \t\tmessageButtons=\"%s\" \t\tmessageDefault=\"%s\" \t\ttitle=\"%s\"> "
                    u"\t\t\t<TextLine fdt:string=\"%s\"/> \t</FDTUserMessage> </FDT>",
                    MessageTypeWord(flags), buttons, def, escapedTitle.Get(), escapedText.Get());
}

// The word a function list carries for an application id (1 "fdtAdjustSetValue" .. 13
// "fdtMainOperation"), which is what frames and user interfaces read; null for 0 (none) and for
// ids that have no word.
inline const char16_t* ApplicationIdName(ULONG id) {
  static const char16_t* const kNames[] = {
      u"fdtAdjustSetValue", u"fdtAssetManagement",     u"fdtAuditTrail",    u"fdtConfiguration",
      u"fdtDiagnosis",      u"fdtForce",               u"fdtManagement",    u"fdtObserve",
      u"fdtOfflineCompare", u"fdtOfflineParameterize", u"fdtOnlineCompare", u"fdtOnlineParameterize",
      u"fdtMainOperation"};
  return id >= 1 && id <= sizeof kNames / sizeof kNames[0] ? kNames[id - 1] : nullptr;
}

// The function-call document that opens the function with the id.
inline HRESULT FormatFunctionCall(LONG functionId, BSTR* document) {
  return BstrFormat(document,
                    u"<?xml version=\"1.0\"?> <FDT \txmlns\t\t=\"x-schema:DTMFunctionCallSchema.xml\" "
                    u"\txmlns:func\t=\"x-schema:DTMFunctionsSchema.xml\" "
                    u"\txmlns:appId\t=\"x-schema:FDTApplicationIdSchema.xml\" "
                    u"\txmlns:ops\t=\"x-schema:FDTOperationPhaseSchema.xml\"> "
                    u"\t<FDTFunctionCall func:functionId=\"%d\"/> </FDT>",
                    static_cast<int>(functionId));
}

}  // namespace vkr
