// Schema lookups over the attribute tree: a node's reserved "attributes_info" child holds one
// entry per described attribute or node (help text as its value; "type", "default",
// "values", "min", "max", "select_from" and "inherit" as attributes).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "props/xml_node.h"

namespace XMLParse {

// The entry describing attribute `name` of `node` (the three search steps).
XMLNodePtr FindSchemaEntry(CoXMLNode* node, std::u16string_view name);
// Like FindSchemaEntry for a path from `start` whose nodes need not exist yet.
XMLNodePtr FindSchemaEntryByPath(CoXMLNode* start, std::u16string_view path);
// type 0: entry text; 1..5: "type", "default", "values", "min", "max" (with the "values"
// fallbacks). Empty when missing.
std::u16string SchemaInfo(CoXMLNode* entry, int type);
// Names the schema gives for `node`'s attributes (its own schema, then the parent's unless
// that is switched off, or the nearest ancestor's entry for the node and its "inherit"
// chain). `has_own` tells whether the node has its own schema child. With
// `with_attributes`, the node's own attribute names follow whenever a schema applies, so that
// the list covers every attribute.
std::vector<std::u16string> SchemaNames(CoXMLNode* node, bool* has_own,
                                        bool with_attributes = true);
// Option items of a "values" text: split at "|" when present, else at white space, ";" and
// ",", empty items dropped.
std::vector<std::u16string> SplitOptions(std::u16string_view values);
// Information about `node` itself from the nearest schema towards the root: the text of the
// entry named like the node for an empty `field`, else its attribute `field`, following the
// entry's "inherit" chain. False when there is none.
bool NodeInfo(CoXMLNode* node, std::u16string_view field, std::u16string* value);

}  // namespace XMLParse
