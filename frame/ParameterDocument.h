// The DTM's parameter document (IDtmParameter, DTMParameterSchema) as the frame reads and edits it:
// the tag of the DTM's device and the variables the DTM exports, each with its value, unit and
// access. That document is the only place where a DTM names its parameters to a frame; a
// parameter it does not export cannot be shown or set by name.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "frame/TransferSession.h"

namespace vkr::frame {

// The name the device's tag has in the document's table (the DtmDevice element's fdt:tag).
inline constexpr char kTagName[] = "Tag";

struct DocumentParameter {
  std::string name;        // kTagName, or the variable's name (the DTM's id for it)
  std::string descriptor;  // the variable's descriptor: the parameter's name as the DTM shows it
  std::string value;       // the display text
  std::string unit;        // the document gives variables no unit element: empty
  bool writable = true;
  // What a person calls it: the descriptor when there is one.
  const std::string& Label() const { return descriptor.empty() ? name : descriptor; }
};

struct ParameterDocument {
  std::string text;          // as the DTM wrote it
  std::string dataSetState;  // fdt:dataSetState: "allDataLoaded", "validModified", ...
  std::string busAddress;    // the device's address on the bus (its polling address), empty when none
  std::vector<DocumentParameter> parameters;  // the tag first, then the variables in document order
  // The parameter a person means: the one of that name, else the one of that descriptor; null
  // when there is none, or with *ambiguous set when several share the descriptor.
  const DocumentParameter* Find(const std::string& name, bool* ambiguous = nullptr) const;
};

// The DTM's document (GetParameters), checked against the frame's schema set. S_OK; S_FALSE with
// the reason when the DTM gave none or one that is not valid; a failure of the call else.
HRESULT GetParameterDocument(IUnknown* dtm, ParameterDocument* out, std::string* why);

// Puts the value into the parameter of the document's text that `name` (a name or descriptor, as
// Find) means: the tag, or a variable's display text and FDT variant. false with the reason for a
// name the document does not hold or a variable it offers for reading only.
bool SetDocumentValue(std::string* text, const std::string& name, const std::string& value, std::string* why);

// Gives the DTM the device's address on the bus (the polling address a frame found it at) through
// its parameter document, as a frame does: S_OK; S_FALSE with the reason when the document holds no
// bus address or the DTM refused it; a failure of a call else.
HRESULT SetBusAddress(TransferSession& session, unsigned address, std::string* why);

// Changes the named parameters through the DTM's parameter document: reads it, puts every value in
// and hands it back (SetParameters), all or nothing. S_OK; S_FALSE with the reason when a name is
// not in the document or the DTM refused the values (then the DTM's own message); a failure else.
HRESULT SetDocumentParameters(TransferSession& session, const std::vector<std::pair<std::string, std::string>>& values,
                              std::string* why);

}  // namespace vkr::frame
