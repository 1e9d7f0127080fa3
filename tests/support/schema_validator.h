// Loads documents as a frame does: validating them against the frame's schema set. The schemas
// loaded up front are the data types' schema, or the list a test names; error reports collect in
// `errors`.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/platform.h"
#include "tests/support/source_tree.h"
#include "xml/CovFDTXMLHandlerImpl.h"

namespace vkr::test {

struct DataTypeSchemas {
  static constexpr const char* files[] = {"FDTDataTypesSchema.xml", ""};
};

template <class Schemas = DataTypeSchemas>
class FrameSchemaValidator : public CovFDTXMLHandlerImpl<FrameSchemaValidator<Schemas>> {
 public:
  static const char* const* GetSchemaFileList() { return Schemas::files; }
  void OnError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    errors += FormatErrorTextV(format, args) + "\n";
    va_end(args);
  }
  // The schema cache from the frame's schema directory.
  HRESULT Initialize() { return this->InitializeSchemaCache(vkr::Bstr(vkr::Utf8ToUtf16(FrameSchemas().string()))); }
  // Whether the text loads and validates; the errors stay in `errors`.
  bool Validates(BSTR text) {
    errors.clear();
    vkr::ComPtr<IXMLDOMDocument2> document;
    VARIANT_BOOL loaded = VARIANT_FALSE;
    return SUCCEEDED(this->LoadXMLDocument(text, document.Put(), &loaded)) && loaded == VARIANT_TRUE;
  }
  std::string errors;
};

using SchemaValidator = FrameSchemaValidator<>;

}  // namespace vkr::test
