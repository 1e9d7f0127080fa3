// CovFDT_ExtDocumentMgr: the DTM's documents and device pictures (IovFdtExtDocument), written as
// the FDT fragments that the DTM information document carries for each device type.
//
// The records come from the device class (AddDocument); the DTM information merges the fragments
// into its device types (MergeDtmDocuments). Every text goes into an attribute escaped; a text no
// XML document can carry fails the call with E_INVALIDARG rather than give the frame a document
// it cannot load.
#pragma once

#include <string>
#include <vector>

#include "include/DtmInterfaces.h"
#include "platform/platform.h"

// One document or device picture.
struct SExtDocument {
  std::u16string label;
  std::u16string help;
  LONG classification = 0;  // 1 help, 2 technicalDocumentation, 3 orderingInformation, 4 miscellaneous
  LONG languageId = 0;      // an LCID
  LONG kind = 0;            // 1 document file, 2 URL, 3 executable, 4 device bitmap, 5 device icon
  std::u16string path;      // file, URL or program
  LONG graphicState = 0;    // kinds 4 and 5: 1 device, 2 diagnosis, 3 oem
  std::u16string parameters;  // kind 3
  std::u16string deviceType;  // empty: every device type
};

enum : LONG {
  kDocumentFile = 1,
  kDocumentUrl = 2,
  kDocumentExe = 3,
  kDeviceBitmap = 4,
  kDeviceIcon = 5,
};

class CovFDT_ExtDocumentMgr : public IovFdtExtDocument {
 public:
  CovFDT_ExtDocumentMgr() = default;
  CovFDT_ExtDocumentMgr(const CovFDT_ExtDocumentMgr&) = delete;
  CovFDT_ExtDocumentMgr& operator=(const CovFDT_ExtDocumentMgr&) = delete;
  virtual ~CovFDT_ExtDocumentMgr() = default;

  void AddDocument(SExtDocument record) { m_documents.push_back(std::move(record)); }
  const std::vector<SExtDocument>& Documents() const { return m_documents; }

  // IovFdtExtDocument: the fragments of the records that belong to the device type, in record
  // order, each ended by a line feed; an empty text when none does. E_POINTER for a null
  // out-pointer.
  HRESULT GetDocumentList(BSTR* list, BSTR deviceType) override;
  HRESULT GetDeviceBitmap(BSTR* list, BSTR deviceType) override;
  HRESULT GetDeviceIcon(BSTR* list, BSTR deviceType) override;

 private:
  HRESULT GetDevicePictures(LONG kind, const char16_t* element, BSTR* list, BSTR deviceType);
  std::vector<SExtDocument> m_documents;
};
