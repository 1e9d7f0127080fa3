// CVornExampleDtm: the DTM object of the VKR series. It is the framework base over this class
// together with the communication client, the function container, the information interfaces, the
// translation and the device's HART protocol object, created once per device instance by its
// class factory.
#pragma once

#include "communication/CovFDT_GenericCommClientImpl.h"
#include "communication/MyHartProtocol.h"
#include "dtm/CovFDT_BaseDTMImpl.h"
#include "dtm/CovFDT_DtmApplicationImpl.h"
#include "dtm/CovFDT_DtmTranslationImpl.h"
#include "dtm/CovFDT_FunctionContainerImpl.h"
#include "include/ProgramIds.h"
#include "platform/platform.h"

// The DTM's user interfaces and functions, ended by an entry of type 0.
extern const SFunctionEntry kVornExampleDtmFunctions[];

class CVornExampleDtm : public vkr::Implements<ISomeInterface>,
                        public CovFDT_BaseDTMImpl<CVornExampleDtm, &CLSID_VornExampleDtm, &CLSID_DtmThread>,
                        public CovFDT_GenericCommClientImpl<CVornExampleDtm>,
                        public CovFDT_FunctionContainerImpl<CVornExampleDtm>,
                        public CovFDT_DtmApplicationImpl<CVornExampleDtm>,
                        public CovFDT_DtmTranslationImpl<CVornExampleDtm> {
 public:
  CVornExampleDtm();
  ~CVornExampleDtm() override;

  // The registry settings, the log, then the framework's final construction.
  HRESULT FinalConstruct();
  void FinalRelease();

  // Module support: the lock count, the registration and the FDT component categories.
  static void ModuleLock();
  static void ModuleUnlock();
  static HRESULT UpdateRegistry(BOOL bRegister);
  static const vkr::CategoryMapEntry* GetCategoryMap();
  // The FDT schema files the DTM's XML handler loads into its cache.
  static const char* const* GetSchemaFileList() { return kSchemaFilesDtm; }

  // IovFdtBaseDTM: the framework's state change, then the functions that need communication.
  HRESULT SetDTMState(EDtmState state) override;
  // IovFdtDtmEvents: messages 10 and 11 go online and offline through the DTM thread.
  HRESULT DtmMessage(VARIANT id, VARIANT argument) override;
  // IDtm::Config answers S_OK with a false result outside state 7.
  HRESULT Config(BSTR userInformation, VARIANT_BOOL* result) override;
  // The framework's status (every status parameter read from the device), then what the HART
  // device status byte of those answers says: a malfunction is an error; a PV or another variable
  // out of limits, a loop current saturated or fixed, or more status waiting is a warning.
  HRESULT InternalGetDeviceStatus(ULONG* status) override;

  // IDtmInformation: the information document from the device class's own template.
  HRESULT GetInformation(BSTR request, BSTR* information) override;
  // The device-icon fragment of the information document; xml stays as it was when no icon
  // path is configured.
  HRESULT GetDeviceIconXml(BSTR* xml);

  // IDispatch of every dual interface: no type information.
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override;

  // The parameter handler reaches the communication client this way.
  IovFdtParameterCommunication* ParameterCommunication() override {
    return static_cast<CovFDT_GenericCommClientImpl<CVornExampleDtm>*>(this);
  }

  // Where the icons are (from the registry; empty when not set).
  const vkr::Bstr& IconPath() const { return m_bstrIconPath; }

 protected:
  HRESULT QueryExtraInterface(REFIID riid, void** ppv) override;
  HRESULT InitializeCommunicationProtocol() override;
  HRESULT GetUserInterfaceInfo(BSTR key, ULONG infoId, VARIANT* value) override;
  HRESULT FindFunctionHandler(LONG functionId, std::string* name, HRESULT (**handler)(IUnknown*)) override;
  // The open user interfaces and running functions of the function container.
  HRESULT GetRunningFunctionCount(ULONG* count) override;
  bool IsActingRead(const VARIANT& address) override { return IsActingHartRead(address); }
  HMODULE ResourceModule() override;
  // The hook of the documentation: this DTM has no documents of its own.
  HRESULT GetFunctionDocumentation(LONG functionId, BSTR* document) override;
  // The enumeration entry texts of the parameter handler come from the translation.
  HRESULT TranslateEnumerationEntry(ULONG enumerationId, LONG value, BSTR* text) override {
    return GetEnumerationEntryText(GetControllingUnknown(), enumerationId, value, text);
  }

 private:
  // The registry settings: log directory and switch, icon path; creates the log directory and
  // removes the old log when the log is on.
  void ReadRegistrySettings();

  MyHartProtocol m_protocol;
  vkr::Bstr m_bstrIconPath;
};
