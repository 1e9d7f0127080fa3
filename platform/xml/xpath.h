// The selection path evaluator behind selectNodes and selectSingleNode.
//
// The language is the XPath 1.0 subset the system's paths use: absolute and relative location
// paths, "//", ".", "..", "*", "prefix:*", names, "@name", "@*", "text()", "node()", "comment()",
// "processing-instruction()", the axes child, attribute, self, parent, descendant,
// descendant-or-self, ancestor, ancestor-or-self, following-sibling and preceding-sibling,
// predicates (chained) with "or", "and", "=", "!=", "<", "<=", ">", ">=", string and number
// literals, position numbers, and the functions last(), position(), count(), not(), true(),
// false(), string(), number(), contains(), starts-with(), name() and local-name().
//
// Names compare as written in the document (prefix and local name together), so "fdt:Variant"
// selects elements written "fdt:Variant" whatever namespace the prefix is bound to, and an
// unprefixed name selects unprefixed elements whatever their default namespace. No namespace
// needs registering. Namespace declarations are not attributes for "@".
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/xml/dom_tree.h"

namespace vkr::xml {

// The nodes path selects from context, in document order without duplicates. E_FAIL with
// *reason when the path does not parse or is not a node selection.
HRESULT SelectNodes(Node* context, std::u16string_view path, std::vector<Node*>* out, std::u16string* reason);

}  // namespace vkr::xml
