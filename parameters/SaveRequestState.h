// The data set's save requests to the frame: the modified flag, and the delay that lets the changes
// of one operation (a relation evaluation, a transfer) end in one save request.
//
// The DTM object keeps one CSaveRequestState and forwards its DelaySaveRequest and
// SetDataSetModified to it, answering the few questions below through ISaveRequestSite. Used on
// the DTM's apartment thread only.
#pragma once

#include "include/IovFdtParameterHandlerSite.h"
#include "platform/platform.h"

// What the state needs from the DTM object.
struct ISaveRequestSite {
  virtual EDtmState GetDtmState() = 0;
  // The DTM's system tag, the text that goes with a save request; a failure when it cannot be had.
  virtual HRESULT GetSystemTag(BSTR* tag) = 0;
  // Whether the frame's container is known.
  virtual bool HasFrameContainer() = 0;
  // IFdtContainer::SaveRequest with the tag.
  virtual HRESULT SaveRequest(BSTR tag) = 0;
  // The "<PARAMETERS>" text of the data set (empty: nothing to tell).
  virtual HRESULT GetParameterDocumentText(BSTR* text) = 0;
  // Hands the parameter-changed document to the DTM thread (job 16), which tells the frame.
  virtual HRESULT PostParameterChanged(BSTR document) = 0;

 protected:
  ~ISaveRequestSite() = default;
};

class CSaveRequestState {
 public:
  // TRUE opens a delay, FALSE closes one (never below none). Closing the outermost delay while the
  // data set is modified and the DTM is in states 7 to 12 asks the frame to save: S_OK, or S_FALSE
  // when the system tag cannot be had (the request is then not made); the frame's own answer is
  // returned when it fails.
  HRESULT DelaySaveRequest(BOOL begin, ISaveRequestSite* site);
  // Sets the modified flag. Nothing happens while the flag is clear and the DTM is not in states 8
  // to 12. Set: unless a delay is open, the frame is asked to save (states 7 to 12, with a
  // container). Cleared: the frame is told the changed parameters (the "<PARAMETERS>" text in an
  // OnParameterChangedDocument, through the DTM thread). S_FALSE, flag already taken, when the
  // system tag cannot be had; otherwise the first failure of the frame or the document, or S_OK.
  HRESULT SetDataSetModified(BOOL modified, ISaveRequestSite* site);

  bool IsModified() const { return m_bModified; }
  bool IsDelayed() const { return m_bDelay; }
  ULONG DelayCount() const { return m_nDelay; }

 private:
  bool m_bModified = false;
  bool m_bDelay = false;
  ULONG m_nDelay = 0;
};
