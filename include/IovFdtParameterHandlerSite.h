// What the parameter handler needs from the DTM object that carries it: the DTM's state and
// language, its messages and events, and the neighbours the DTM owns (communication client,
// function container, parameter lists).
//
// These are small seams, one per neighbour (the parameter lists come as their own interface), so
// that the parameter model builds and is tested before its neighbours exist; the DTM object
// implements them by forwarding to its members. A getter that answers null means the DTM has no
// such neighbour, and each operation of the handler answers that case as its description says.
// Every call runs on the DTM's apartment thread.
#pragma once

#include "include/IovFDTParamList.h"
#include "include/ParameterHandlerInterfaces.h"
#include "platform/platform.h"

// The DTM states (held in the DTM's m_eDtmState); device access needs dsONLINE.
enum EDtmState : LONG {
  dsUNDEFINED = 0,
  dsCREATED = 1,
  dsPREPAREDTODELETE = 2,
  dsPREPAREDTORELEASE = 3,
  dsINITNEWPERSIST = 4,
  dsLOADED = 5,
  dsENVIRONMENTSET = 6,
  dsINITIALIZED = 7,
  dsCONFIGURED = 8,
  dsCOMMUNICATIONSET = 9,
  dsGOINGONLINE = 10,
  dsGOINGOFFLINE = 11,
  dsONLINE = 12,
};

// The communication client inside the DTM object: single parameters to and from the device, and
// the cancel of a running list transfer.
struct IovFdtParameterCommunication {
  // Asynchronous read; the value arrives later through HandleDevParResponse.
  virtual HRESULT ReadParameter(VARIANT id, VARIANT_BOOL* done) = 0;
  virtual HRESULT WriteParameter(VARIANT id, VARIANT value, VARIANT_BOOL* done) = 0;
  // Blocking read and write: the response has been handled when they return.
  virtual HRESULT ReadParameterSync(VARIANT id, VARIANT_BOOL* done) = 0;
  virtual HRESULT WriteParameterSync(VARIANT id, VARIANT value, VARIANT_BOOL* done) = 0;
  virtual HRESULT CancelParamListTransfer(BSTR transferId, VARIANT_BOOL* done) = 0;

 protected:
  ~IovFdtParameterCommunication() = default;
};

// The DTM's message sink (numbered DTM messages such as 9, a device response arrived).
struct IovFdtParameterDtmEvents {
  virtual HRESULT DtmMessage(VARIANT message, VARIANT argument) = 0;

 protected:
  ~IovFdtParameterDtmEvents() = default;
};

// The function container: what reaches every open user interface.
struct IovFdtParameterBroadcast {
  // A failed device access of a parameter (id, the response data, the error text).
  virtual HRESULT ReportParameterError(VARIANT id, VARIANT data, BSTR errorText) = 0;
  // A numbered broadcast (0x2700..0x271E) with the parameter id and an argument (VT_EMPTY when the
  // broadcast has none).
  virtual HRESULT NotifyActiveXContainer(VARIANT event, VARIANT id, VARIANT argument) = 0;

 protected:
  ~IovFdtParameterBroadcast() = default;
};

struct IovFdtParameterHandlerSite {
  virtual EDtmState GetDtmState() = 0;
  // The DTM's current language (an LCID), for number texts.
  virtual LCID GetLanguage() = 0;
  virtual IovFdtParameterCommunication* GetCommunicationClient() = 0;
  virtual IovFdtParameterDtmEvents* GetDtmEvents() = 0;
  virtual IovFdtParameterBroadcast* GetActiveXContainer() = 0;
  // The DTM's parameter lists; a borrowed pointer (no reference added) valid during the call.
  virtual IovFDTParamList* GetParamList() = 0;
  // Tells the frame that an exported variable changed (name in the ANSI code page).
  virtual HRESULT SendVariableEvent(LPCSTR name, VARIANT oldValue, VARIANT newValue) = 0;
  // Brackets a group of changes of the stored data set (TRUE opens, FALSE closes; nested).
  virtual HRESULT DelaySaveRequest(BOOL begin) = 0;
  // Marks the data set modified (or not), telling the frame when that changes.
  virtual HRESULT SetDataSetModified(BOOL modified) = 0;
  // A persisted value was stored: the data set now differs from what was last saved or loaded,
  // whether or not the change is one the frame is asked to save for. A DTM without persistence
  // has nothing to note.
  virtual void OnPersistedValueChanged() {}
  // An error text for the user (ANSI code page).
  virtual void OnError(LPCSTR text) = 0;

 protected:
  ~IovFdtParameterHandlerSite() = default;
};
