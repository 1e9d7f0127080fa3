// Loading text into a DOM document: libxml2 reads the markup, we build our tree and validate.
#pragma once

#include <string>
#include <string_view>

#include "platform/xml/dom_tree.h"

namespace vkr::xml {

enum class TextSource {
  Utf16,  // a BSTR converted to UTF-8 by the caller: a declared encoding is ignored
  Bytes,  // file or stream bytes: the encoding comes from the BOM or the declaration
};

// Replaces the document's content by the parsed text. On failure the document is left empty,
// doc->error says why, and the result is S_FALSE; on success doc->error is cleared and the
// result is S_OK. With a schema collection attached the tree is validated too. Bad input of any
// kind (malformed, too deep, DTDs, entities, unknown schemas) is a failure, never a crash.
HRESULT LoadDocument(Doc* doc, std::string_view text, TextSource source);

// UTF-16 to UTF-8, quick for ASCII (documents are mostly markup).
std::string TextToUtf8(std::u16string_view text);

// Records a failure in doc->error with the source line as srcText.
void SetError(ParseErrorInfo* error, HRESULT code, std::u16string reason, LONG line, LONG linepos,
              std::string_view text);

}  // namespace vkr::xml
