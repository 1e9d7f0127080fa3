// The frame host's `items` command.
#include "frame/ItemsHost.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "frame/FrameContainer.h"
#include "frame/FrameHost.h"
#include "frame/TransferSession.h"
#include "frame/HostPaths.h"
#include "frame/HostUsage.h"
#include "frame/ProjectFiles.h"
#include "frame/HostUtilities.h"

namespace vkr::frame {
namespace {

constexpr char16_t kDtmProgId[] = u"Vorn.ExampleDtm";
constexpr char kDefaultProject[] = "C:\\VKR\\project.vkr";

int Fail(const std::string& what) {
  std::fflush(stdout);
  std::fprintf(stderr, "vkr-frame: %s\n", what.c_str());
  return 1;
}

std::string Text(const Bstr& s) { return Utf16ToUtf8(s.View()); }

// The text the path selects below the node; empty when it selects nothing.
std::string Select(IXMLDOMNode* node, const char16_t* path) {
  ComPtr<IXMLDOMNode> found;
  Bstr query(path), text;
  if (FAILED(node->selectSingleNode(query, found.Put())) || !found) return std::string();
  found->get_text(text.Put());
  return Text(text);
}

// A limit of a range element: its number, text or time.
std::string Limit(IXMLDOMNode* item, const char16_t* element) {
  const std::u16string base = std::u16string(u"RangeDescriptions/RangeDescription/") + element + u"/fdt:";
  for (const char16_t* data : {u"NumberData/@number", u"StringData/@string", u"TimeData/@time"}) {
    const std::string value = Select(item, (base + data).c_str());
    if (!value.empty()) return value;
  }
  return std::string();
}

struct Item {
  std::string id, name, type, access, unit, range;
};

int Items(const std::string& project) {
  Apartment apartment;
  if (FAILED(apartment.Result())) return Fail("the frame's apartment could not be made");
  auto session = std::make_unique<TransferSession>();
  HRESULT hr = session->Open(kDtmProgId, std::make_shared<SimulatedDevice>(), project);
  if (FAILED(hr)) return Fail(OpenFailure(project, hr, session->DataSetRefused()));
  ComPtr<IDtmSingleInstanceDataAccess> access;
  session->Dtm()->QueryInterface(IDtmSingleInstanceDataAccess::iid, access.PutVoid());
  if (!access) return Fail("the DTM offers no single device data access");
  Bstr list;
  hr = access->GetItemList(list.Put());
  if (hr != S_OK || list.Empty()) return Fail("the DTM gave no item list: " + ResultText(hr));
  // The list as a frame takes it: checked against the schema set.
  ComPtr<IXMLDOMSchemaCollection> cache;
  ComPtr<IXMLDOMDocument2> document;
  std::string reason;
  hr = CreateFrameSchemaCache(&cache);
  if (SUCCEEDED(hr)) hr = LoadWithSchemaCache(list, cache.Get(), &document, &reason);
  if (hr != S_OK) return Fail("the item list is not valid: " + (reason.empty() ? ResultText(hr) : reason));

  std::vector<Item> items;
  ComPtr<IXMLDOMNodeList> nodes;
  Bstr path(u"FDT/DtmItemInfoList/DtmItemInfo");
  LONG count = 0;
  if (SUCCEEDED(document->selectNodes(path, nodes.Put())) && nodes) nodes->get_length(&count);
  for (LONG i = 0; i < count; ++i) {
    ComPtr<IXMLDOMNode> node;
    if (FAILED(nodes->get_item(i, node.Put())) || !node) continue;
    Item item;
    item.id = Select(node.Get(), u"@fdt:id");
    item.name = Select(node.Get(), u"@fdt:name");
    item.type = Select(node.Get(), u"@fdt:dataType");
    item.access = std::string(Select(node.Get(), u"@fdt:readAccess") == "0" ? "-" : "r") +
                  (Select(node.Get(), u"@fdt:writeAccess") == "1" ? "w" : "-");
    item.unit = Select(node.Get(), u"UnitDescription/fdt:EnumeratorEntry/@name");
    const std::string reference = Select(node.Get(), u"UnitDescription/ItemReference/@fdt:idref");
    if (!reference.empty()) item.unit = "item " + reference;
    const std::string lower = Limit(node.Get(), u"LowerRangeDescription"), upper = Limit(node.Get(), u"UpperRangeDescription");
    if (!lower.empty() || !upper.empty()) item.range = lower + " .. " + upper;
    items.push_back(item);
  }
  hr = session->Close();
  if (FAILED(hr)) return Fail("the DTM did not end its communication: " + ResultText(hr));

  if (items.empty()) {
    std::printf("the DTM offers no items\n");
    return 0;
  }
  std::size_t name = 4, type = 4, unit = 4;
  for (const Item& item : items) {
    name = std::max(name, item.name.size());
    type = std::max(type, item.type.size());
    unit = std::max(unit, item.unit.size());
  }
  const auto line = [&](const Item& item) {
    std::printf("%-6s  %-*s  %-*s  %-6s  %-*s  %s\n", item.id.c_str(), static_cast<int>(name), item.name.c_str(),
                static_cast<int>(type), item.type.c_str(), item.access.c_str(), static_cast<int>(unit),
                item.unit.c_str(), item.range.c_str());
  };
  line(Item{"id", "name", "type", "access", "unit", "range"});
  for (const Item& item : items) line(item);
  return 0;
}

}  // namespace

int RunItemsCommand(const std::vector<std::string>& arguments) {
  std::string project = kDefaultProject;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--project" && ValueMissing(arguments, i))
      return UsageError("items: --project needs a value");
    if (arguments[i] == "--project") {
      project = arguments[++i];
    } else {
      return UsageError("items takes [--project FILE], not " + arguments[i]);
    }
  }
  if (const std::string why = FullWindowsPath(project, &project); !why.empty())
    return UsageError("items: " + PathOptionRefused("--project", project, why));
  if (const std::string outside = LinkOutOfDriveRoot({project}); !outside.empty()) return Fail(outside);
  if (const std::string problem = ProjectProblem(project); !problem.empty()) return Fail(problem);
  TidyProject(project);
  return Items(project);
}

}  // namespace vkr::frame
