// XDR schemas: the model read from a schema file, the schema collection object, and the
// validation of a loaded document against the collection.
//
// What the validator checks, for every element and attribute in an "x-schema:" namespace:
// - the element is declared (ElementType) in the schema of its namespace;
// - content: empty (nothing), textOnly (text; with model="open" also undeclared elements),
//   eltOnly (elements, white space only between them), mixed (text and the listed elements in
//   any order and number);
// - the listed elements of eltOnly content follow the model: order seq / one / many, groups,
//   minOccurs 0|1 and maxOccurs 1|*; an order "many" lets its elements appear in any order and
//   number, or not at all (their minOccurs and maxOccurs do not apply);
// - model="open" (the default) allows elements and attributes that the model does not list: from
//   another namespace freely (validated by their own schema when they have one), from the same
//   schema when the schema declares them; model="closed" allows nothing unlisted;
// - attributes: declared, of their data type (dt:type, dt:values for enumerations), required
//   ones present; a missing attribute with a default is added to the tree (specified = false);
// - the text of an element with a data type; id values unique, idref values naming an id.
// Types may come from other schemas of the collection ("fdt:Name" with the prefix bound to
// another x-schema namespace in the schema file).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/dom_tree.h"

namespace vkr::xml {

inline constexpr std::u16string_view kXdrUri = u"urn:schemas-microsoft-com:xml-data";
inline constexpr std::u16string_view kDtUri = u"urn:schemas-microsoft-com:datatypes";
inline constexpr std::u16string_view kXSchemaPrefix = u"x-schema:";

enum class Content { Empty, TextOnly, EltOnly, Mixed };
enum class Order { One, Seq, Many };

struct QName {
  std::u16string ns;
  std::u16string local;
  bool operator==(const QName&) const = default;
};

struct AttributeType {
  std::u16string name;
  DataType type = DataType::None;
  std::vector<std::u16string> values;  // enumeration
  bool required = false;
  bool hasDefault = false;
  std::u16string def;
};

// An <attribute> of an ElementType: the type it names, with the overrides it carries.
struct AttributeUse {
  QName ref;
  const AttributeType* local = nullptr;  // the type when it is in the same schema
  bool requiredSet = false, required = false;
  bool defaultSet = false;
  std::u16string def;
};

// An <element> reference or a <group> of them.
struct Particle {
  bool isGroup = false;
  QName ref;  // element
  Order order = Order::Seq;  // group
  std::vector<Particle> items;
  bool optional = false;  // minOccurs="0"
  bool repeat = false;    // maxOccurs="*"
};

struct ElementType {
  std::u16string name;
  Content content = Content::Mixed;
  bool open = true;
  DataType type = DataType::None;
  std::vector<std::u16string> values;
  std::map<std::u16string, AttributeType, std::less<>> localAttributes;
  std::vector<AttributeUse> attributes;
  Particle model;                  // a group holding the content model
  std::vector<QName> listed;       // every element the model names, at any depth
};

struct Schema {
  std::u16string ns;
  std::u16string location;
  std::map<std::u16string, ElementType, std::less<>> elements;
  std::map<std::u16string, AttributeType, std::less<>> attributes;
};

// Reads an XDR schema file into its model, once for the process while the file stays as it was
// (its time and size). INET_E_OBJECT_NOT_FOUND when it cannot be read, XML_E_NOT_WELL_FORMED
// when it does not parse, XML_E_BAD_SCHEMA when it is not a valid XDR schema; *reason says why.
HRESULT LoadSchema(std::u16string_view ns, std::u16string_view location, std::shared_ptr<const Schema>* out,
                   std::u16string* reason);

// Reads a schema file's document (the source of a model). Failures as LoadSchema's.
HRESULT LoadSchemaDocument(std::u16string_view location, DocRef* doc, std::u16string* reason);

// The schema collection's inside, for the validator.
struct ISchemaCacheInternal : IUnknown {
  static constexpr IID iid = vkr::MakeGuid("5221E1D8-529D-4E72-9269-34B5DB030CB7");
  using Base = IUnknown;
  virtual std::shared_ptr<const Schema> FindSchema(std::u16string_view ns) = 0;
};

// Creates an empty schema collection.
HRESULT CreateSchemaCache(IUnknown* outer, REFIID riid, void** ppv);

// Validates a loaded document; S_OK, or a failure code with *error filled (line, linepos and a
// reason naming the element or attribute). text is the source, for srcText.
HRESULT ValidateDocument(Doc* doc, IXMLDOMSchemaCollection* schemas, ParseErrorInfo* error, std::string_view text);

// The file system path for a path as the DOM takes it: a "file://" prefix is dropped, the rest
// maps as every Windows path of the platform does (empty when it cannot be mapped).
std::string NativePath(std::u16string_view path);
// Reads a whole file named as above; false when it cannot be read.
bool ReadFileBytes(std::u16string_view path, std::string* out);

}  // namespace vkr::xml
