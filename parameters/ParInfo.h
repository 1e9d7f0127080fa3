// ParInfo: the record of one parameter, with its field masks, flag bits, kind codes and callbacks.
//
// This header is the reference for the record. The parameter model has grown two vocabularies for
// the same fields and bits; where they differ, the "also" column names the other one, so code
// written from either description finds its field here.
//
// Fields, in declaration order. `mask` is the ParInfoFieldMask bit that selects the field in
// GetParInfoFields/SetParInfoFields and GetParameterField/SetParameterField (the VARIANT type the
// field is read as there is in brackets); `default` is what the default record holds.
//
//  mask      member              type      default  meaning                               also
//  0x000001  m_dwAddressed       ULONG     0        1: the parameter has a device address  kind word (1: a device
//                                                   (adding it sets flag 0x400); 0: it     parameter, read and written;
//                                                   lives in the DTM only [VT_UI4]         other: data set only)
//  -         m_nId               ULONG     -1       the key; 0xFFFFFFFF is no parameter
//  0x100000  m_bstrStrId         BSTR      ""       symbolic name documents use [VT_BSTR]  string id (str_id)
//  0x000002  m_vAddress          VARIANT   empty    AddressInformation text (VT_BSTR) of   first VARIANT field, address
//                                                   an addressed parameter, or a number    information
//  0x000004  m_bstrName          BSTR      ""       display name [VT_BSTR]
//  0x000008  m_nStringResId      ULONG     0        non-zero: name from the string table
//  0x008000  m_bstrDescription   BSTR      ""       description text [VT_BSTR]             second text field
//  0x000010  m_vt                VARTYPE   VT_EMPTY type of value, limits and default      [VT_UI2]
//  0x020000  m_nKind             USHORT    0        ParameterKind below [VT_UI2]           value kind, alias kind
//  0x000020  m_vMin              VARIANT   empty    lower limit (inclusive)
//  0x000040  m_vMax              VARIANT   empty    upper limit (inclusive); for a text
//                                                   parameter its maximum length
//  0x000100  m_vDefault          VARIANT   empty    default value
//  0x000080  m_vValue            VARIANT   empty    the value in the data set; for a       value
//                                                   reference record the id it stands for
//  0x200000  m_vDevValue         VARIANT   empty    value last read from or written to     online value
//                                                   the device; starts as the default
//  0x010000  m_vEnumList         VARIANT   empty    EnumList (VT_ARRAY|VT_BSTR of          third VARIANT field, choices
//                                                   "value;label") for kinds 1 and 2
//  0x000200  m_bPersist          ULONG     1        non-zero: stored in the data set
//                                                   [VT_BOOL of its low 16 bits]
//  0x004000  m_dwFlags           ULONG     0x71     the flag bits below [VT_UI4]           status word
//  0x000400  m_dwFlagWord1       ULONG     1        third word; the device table passes 2  flag word 1
//  0x000800  m_dwFlagWord2       ULONG     0        fourth word                            flag word 2
//  0x001000  m_bstrUnit          BSTR      ""       unit text [VT_BSTR]                    export group path (segments
//                                                                                          split at any of " .,:;/")
//  0x002000  m_dwExportKind      ULONG     0        bits 0-1: exported variable (1 display fifth word, export kind,
//                                                   only, 2 variant and display); bit      second flag word
//                                                   0x2000: offered as an item by single
//                                                   device data access (*)
//  0x040000  m_vFurther          VARIANT   empty    a number (VT_UI4) from the definition; further number, auxiliary
//                                                   the unit as VT_BSTR or a unit id       VARIANT, fourth VARIANT
//                                                                                          field, unit VARIANT
//  0x080000  m_vRelation         VARIANT   empty    the "relation(" and "update("          relation expression
//                                                   expressions
//  -         m_pfn...            callbacks null     kinds 5, 1, 3, 6, 2, 4 in this order
//  -         m_dwItemKinds       ULONG     0        item kinds (bits 0-25) reported by     last word, further word,
//                                                   single device data access; copied only item-kind flag word
//                                                   with the whole record
//  0x400000  m_vTypeInformation  VARIANT   empty    the TypeInformation XML text           HART information
//  0x800000  m_vPrivateProperties VARIANT  empty    the PrivateProperties XML text
//
// The address is mask 0x2 and the TypeInformation text mask 0x400000, whatever a description calls
// them. A VARIANT field is read and written as a copy of the whole VARIANT.
//
// (*) One description of single device data access tests bit 0x1000 of this word for "offered as
// an item" and bit 0x2000 for "unit written as an item reference"; the other tests bit 0x2000 for
// the item. The device's table leaves the word 0, so either reading lists nothing; the code that
// lists items settles it.
#pragma once

#include <utility>

#include "platform/platform.h"

// One bit per field; combinations select several fields.
enum ParInfoFieldMask : ULONG {
  PIF_ADDRESSED = 0x00000001,
  PIF_ADDRESS = 0x00000002,
  PIF_NAME = 0x00000004,
  PIF_STRING_RES_ID = 0x00000008,
  PIF_VARTYPE = 0x00000010,
  PIF_MIN = 0x00000020,
  PIF_MAX = 0x00000040,
  PIF_VALUE = 0x00000080,
  PIF_DEFAULT = 0x00000100,
  PIF_PERSIST = 0x00000200,
  PIF_FLAG_WORD1 = 0x00000400,
  PIF_FLAG_WORD2 = 0x00000800,
  PIF_UNIT = 0x00001000,
  PIF_EXPORT_KIND = 0x00002000,
  PIF_FLAGS = 0x00004000,
  PIF_DESCRIPTION = 0x00008000,
  PIF_ENUM_LIST = 0x00010000,
  PIF_KIND = 0x00020000,
  PIF_FURTHER = 0x00040000,
  PIF_RELATION = 0x00080000,
  PIF_STRING_ID = 0x00100000,
  PIF_DEV_VALUE = 0x00200000,
  PIF_TYPE_INFORMATION = 0x00400000,
  PIF_PRIVATE_PROPERTIES = 0x00800000,
  // Every field.
  PIF_ALL = 0x7FFFFFFF,
  // Not a field: asks whether the parameter exists (read as a bit pattern, also from a VT_I4).
  PIF_EXISTS = 0x80000000,
  // The fields a reference record takes from the record it refers to: VARTYPE, minimum, maximum,
  // value, default, flags, enumeration list, kind, further number, relation text, device value.
  PIF_REFERENCE_SUBSET = 0x002F41F0,
};

// Flag bits of m_dwFlags. Two meanings stand on one line where the record's two descriptions
// differ; both hold, as each says who sets and who reads the bit.
enum ParInfoFlag : ULONG {
  // Value may be set for a parameter without device address / may be written to the data set.
  PFL_SETTABLE = 0x001,
  // Changed while offline and not yet written to the device / differs from the stored value (set
  // by validation; cleared after a successful write of a data-set-only parameter and on a device
  // response).
  PFL_MODIFIED = 0x002,
  // The numeric definition failed its check / the value is invalid (validation).
  PFL_INVALID = 0x004,
  // The definition's texts did not convert (the parameter is disabled) / exempt from validation,
  // not exported, not an item, write-protected; toggled by the "enable" relation.
  PFL_DISABLED = 0x008,
  // The device can be read.
  PFL_READABLE = 0x010,
  // The device can be written.
  PFL_WRITABLE = 0x020,
  // Member of the upload and download lists (when those lists are built from the flags).
  PFL_TRANSFER = 0x040,
  // Takes part in the "<PARAMETERS>" export / set when a user interface set the value.
  PFL_EXPORT = 0x100,
  // The data set holds no value of the device yet (never uploaded, loaded or edited): a download
  // does not send it. Cleared when a value is stored; kept with the status word when saved.
  PFL_NOT_HELD = 0x200,
  // Has a device address (set when an addressed record is added) / cleared on every successful
  // device response. Nothing reads it.
  PFL_ADDRESSED = 0x400,
  // A fresh record.
  PFL_DEFAULT = 0x071,
};

// m_nKind: how the value is checked and shown.
enum ParameterKind : USHORT {
  PK_PLAIN = 0,         // range-checked
  PK_ENUMERATION = 1,   // the value is one entry of the enumeration list
  PK_BIT_ENUMERATION = 2,  // the value is a set of bits of the entries
  PK_PACKED_TEXT = 4,   // packed HART text; range-checked like 0
  PK_RANGE_8 = 8,       // range-checked like 0
  PK_REFERENCE = 16,    // alias: m_vValue holds the id of the parameter really meant
};

// The moments a parameter's callbacks run.
enum ParameterCallbackKind : ULONG {
  PCK_BEFORE_READ = 1,
  PCK_AFTER_READ = 2,
  PCK_BEFORE_WRITE = 3,
  PCK_AFTER_WRITE = 4,
  PCK_BEFORE_CHANGE = 5,  // before a value change in the data set
  PCK_AFTER_CHANGE = 6,
};

// A per-parameter callback: (the context its caller passes, the parameter id). The context is
// pointer-sized: the handler passes its own interface through it.
using ParameterCallback = HRESULT (*)(ULONG_PTR context, ULONG id);

class ParInfo {
 public:
  // The default record: id -1, m_bPersist 1, flags 0x71, flag word 1 = 1, everything else empty.
  ParInfo();
  // A record from all its fields, in this order. The four BSTRs and the two VARIANTs passed by
  // value are taken over: the record owns them from here on, even when construction fails, and
  // the caller neither frees nor clears them. The VARIANTs passed by pointer are copied.
  // m_vValue, the device value (a copy of the default) and the default are converted to vt and
  // cleared when they do not convert; minimum and maximum are converted when they can be. A
  // non-zero string resource id takes the name from the module's string table when it holds that
  // string; an empty string id takes the name. A copy that fails throws vkr::HResultError and no
  // record exists.
  ParInfo(ULONG addressed, ULONG id, const VARIANT* address, BSTR name, ULONG stringResId, VARTYPE vt,
          const VARIANT* minimum, const VARIANT* maximum, const VARIANT* defaultValue, const VARIANT* value,
          ULONG persist, ULONG flags, ULONG flagWord1, ULONG flagWord2, BSTR unit, ULONG exportKind,
          BSTR description, USHORT kind, const VARIANT* enumList, const VARIANT* further, const VARIANT* relation,
          ParameterCallback beforeChange, ParameterCallback beforeRead, ParameterCallback beforeWrite,
          ParameterCallback afterChange, ParameterCallback afterRead, ParameterCallback afterWrite, BSTR stringId,
          ULONG itemKinds, VARIANT typeInformation, VARIANT privateProperties);
  // Deep copies; a copy that runs out of memory throws vkr::HResultError(E_OUTOFMEMORY).
  ParInfo(const ParInfo& other);
  ParInfo& operator=(const ParInfo& other);
  ParInfo(ParInfo&& other) noexcept;
  ParInfo& operator=(ParInfo&& other) noexcept;
  virtual ~ParInfo();

  // A deep copy of every field without throwing: on failure this record is unchanged.
  HRESULT CopyFrom(const ParInfo& other);
  // The same into a record nobody else sees yet: on failure it holds a partial copy.
  HRESULT CopyAll(const ParInfo& other);
  void Swap(ParInfo& other) noexcept;

  // Copies the fields that mask selects from src into this record (the id, the callbacks and the
  // item kinds are never selected). Fields are copied in record order with the kind and the
  // VARTYPE last; the first copy that fails returns its error and leaves the fields before it
  // copied.
  HRESULT CopyFields(const ParInfo& src, ULONG mask);

  ParameterCallback Callback(ParameterCallbackKind kind) const;
  void SetCallback(ParameterCallbackKind kind, ParameterCallback fn);

  bool IsReference() const { return m_nKind == PK_REFERENCE; }

  ULONG m_dwAddressed = 0;
  ULONG m_nId = 0xFFFFFFFF;
  vkr::Bstr m_bstrStrId;
  vkr::Variant m_vAddress;
  vkr::Bstr m_bstrName;
  ULONG m_nStringResId = 0;
  vkr::Bstr m_bstrDescription;
  VARTYPE m_vt = VT_EMPTY;
  USHORT m_nKind = PK_PLAIN;
  vkr::Variant m_vMin;
  vkr::Variant m_vMax;
  vkr::Variant m_vDefault;
  vkr::Variant m_vValue;
  vkr::Variant m_vDevValue;
  vkr::Variant m_vEnumList;
  ULONG m_bPersist = 1;
  ULONG m_dwFlags = PFL_DEFAULT;
  ULONG m_dwFlagWord1 = 1;
  ULONG m_dwFlagWord2 = 0;
  vkr::Bstr m_bstrUnit;
  ULONG m_dwExportKind = 0;
  vkr::Variant m_vFurther;
  vkr::Variant m_vRelation;
  ParameterCallback m_pfnBeforeChange = nullptr;
  ParameterCallback m_pfnBeforeRead = nullptr;
  ParameterCallback m_pfnBeforeWrite = nullptr;
  ParameterCallback m_pfnAfterChange = nullptr;
  ParameterCallback m_pfnAfterRead = nullptr;
  ParameterCallback m_pfnAfterWrite = nullptr;
  ULONG m_dwItemKinds = 0;
  vkr::Variant m_vTypeInformation;
  vkr::Variant m_vPrivateProperties;

 private:
  // m_nStringResId's text from the module's string table (at most 255 bytes) as the name.
  void LoadNameFromStringTable();
};

struct IovFdtParameterHandler4;
struct IovFdtParameterCommunication;
// An event handler of a value-set record: called with the handler, the communication client, the
// parameter id and a result word (-1 on entry).
using ParameterEventHandler = HRESULT (*)(IovFdtParameterHandler4* handler, IovFdtParameterCommunication* client,
                                          VARIANT id, LONG* result);

// A value-set record of the handler: four VARIANTs and a word. The first and the fourth hold
// 32-bit event masks, the second names a parameter list; the word is the event handler the record
// registers for the parameters of that list (null: none). What the third VARIANT holds is the
// registrant's business.
struct CValueSetRecord {
  vkr::Variant vMask1;
  vkr::Variant vList;
  vkr::Variant vThird;
  vkr::Variant vMask2;
  ParameterEventHandler pfnHandler = nullptr;
};

// A pair of VARIANTs (an alias link: alias id and the id it stands for).
struct CVariantPair {
  vkr::Variant first;
  vkr::Variant second;
};
