// The frame's schema set and the XML test data: every schema loads, every document the system
// writes validates, every faulty one is refused naming its fault, and every selection path
// selects what its reader expects.
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/dom_helpers.h"
#include "tests/support/source_tree.h"

namespace vkr::xmltest {
namespace {

namespace fs = std::filesystem;

fs::path RepoRoot() { return vkr::test::SourceTree(); }
fs::path DataDir() { return RepoRoot() / "tests" / "data" / "xml"; }

std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::vector<std::string>> ReadTsv(const fs::path& p) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream f(p);
  std::string line;
  bool header = true;
  while (std::getline(f, line)) {
    if (header) {
      header = false;
      continue;
    }
    if (line.empty()) continue;
    std::vector<std::string> cols;
    std::size_t start = 0;
    for (;;) {
      auto tab = line.find('\t', start);
      cols.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
      if (tab == std::string::npos) break;
      start = tab + 1;
    }
    rows.push_back(std::move(cols));
  }
  return rows;
}

std::vector<fs::path> XmlFiles(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.path().extension() == ".xml") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

class SchemaSet : public ::testing::Test {
 protected:
  void SetUp() override {
    auto schemas = XmlFiles(RepoRoot() / "frame" / "schemas");
    ASSERT_FALSE(schemas.empty());
    for (const auto& s : schemas) {
      EXPECT_EQ(AddSchema(cache.Get(), "x-schema:" + s.filename().string(), s.string()), S_OK) << s;
    }
  }

  ComPtr<IXMLDOMDocument2> Loaded(const std::string& text, bool validated, bool* ok) {
    auto doc = NewDocument();
    if (validated) Attach(doc.Get(), cache.Get());
    *ok = Load(doc.Get(), text);
    return doc;
  }

  ComScope com;
  ComPtr<IXMLDOMSchemaCollection> cache = NewCache();
};

TEST_F(SchemaSet, EveryDocumentTheSystemWritesValidates) {
  auto files = XmlFiles(DataDir() / "valid");
  ASSERT_FALSE(files.empty());
  for (const auto& f : files) {
    bool ok;
    auto doc = Loaded(ReadAll(f), true, &ok);
    ErrorInfo e = ParseErrorOf(doc.Get());
    EXPECT_TRUE(ok) << f.filename() << ": line " << e.line << ": " << e.reason;
  }
}

TEST_F(SchemaSet, EveryFaultyDocumentIsRefusedNamingTheFault) {
  auto rows = ReadTsv(DataDir() / "invalid" / "expected.tsv");
  ASSERT_FALSE(rows.empty());
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 2u);
    bool ok;
    auto doc = Loaded(ReadAll(DataDir() / "invalid" / row[0]), true, &ok);
    EXPECT_FALSE(ok) << row[0];
    ErrorInfo e = ParseErrorOf(doc.Get());
    EXPECT_NE(e.reason.find(row[1]), std::string::npos) << row[0] << " should name " << row[1] << ": " << e.reason;
    EXPECT_GT(e.line, 0) << row[0] << ": " << e.reason;
    if (row[1].size() > 4 && row[1].substr(row[1].size() - 4) == ".xml") {
      EXPECT_EQ(static_cast<ULONG>(e.code), 0x800C0006u) << row[0];
    }
  }
}

// A frame's bus categories validate in every form the uuid type allows: hyphens are optional
// and ignored, so the unhyphenated form is a uuid too. The value reads back as written.
TEST_F(SchemaSet, BusCategoriesFromAFrameInEveryUuidForm) {
  struct Case {
    const char* uuid;
    bool valid;
  } cases[] = {
      {"036D1498-387B-11D4-86E1-00E0987270B9", true}, {"036D1498387B11D486E100E0987270B9", true},
      {"036d1498387b11d4-86e1-00e0987270b9", true},   {"{036D1498-387B-11D4-86E1-00E0987270B9}", true},
      {"036D1498387B11D486E100E0987270B", false},     {"036D1498-387B-11D4-86E1-00E0987270BX", false},
      {"036D1498-387B-11D4-86E1-00E0987270B9-", false},
  };
  for (const Case& c : cases) {
    const std::string text = std::string("<?xml version=\"1.0\"?><FDT xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
                                         "<fdt:BusCategories><fdt:BusCategory busCategory=\"") +
                             c.uuid + "\"/></fdt:BusCategories></FDT>";
    bool ok = false;
    auto doc = Loaded(text, true, &ok);
    EXPECT_EQ(ok, c.valid) << c.uuid << ": " << ParseErrorOf(doc.Get()).reason;
    if (!c.valid) {
      EXPECT_NE(ParseErrorOf(doc.Get()).reason.find("busCategory"), std::string::npos) << c.uuid;
      continue;
    }
    auto category = Select1(doc.Get(), "FDT/fdt:BusCategories/fdt:BusCategory/@busCategory");
    ASSERT_TRUE(category) << c.uuid;
    EXPECT_EQ(Text(category.Get()), c.uuid);
  }
}

TEST_F(SchemaSet, EverySelectionPathSelectsWhatItsReaderExpects) {
  auto rows = ReadTsv(DataDir() / "xpaths.tsv");
  ASSERT_GT(rows.size(), 100u);
  std::map<std::string, ComPtr<IXMLDOMDocument2>> docs;
  for (const auto& row : rows) {
    ASSERT_GE(row.size(), 4u) << row[0];
    const std::string& path = row[0];
    const std::string& file = row[1];
    const std::string context = row.size() > 2 ? row[2] : "";
    const long count = std::stol(row[3]);
    const std::string text = row.size() > 4 ? row[4] : "";
    auto& doc = docs[file];
    if (!doc) {
      bool ok;
      // The fragment wrapper is parsed without a cache, as the fragment parser does.
      doc = Loaded(ReadAll(DataDir() / "docs" / file), file != "fragment.xml", &ok);
      ASSERT_TRUE(ok) << file << ": " << ParseErrorOf(doc.Get()).reason;
    }
    ComPtr<IXMLDOMNode> ctx = doc.Get();
    if (!context.empty()) {
      ctx = Select1(doc.Get(), context);
      ASSERT_TRUE(ctx) << "context " << context << " in " << file;
    }
    ComPtr<IXMLDOMNodeList> list;
    ASSERT_EQ(ctx->selectNodes(Bstr(U(path)), list.Put()), S_OK)
        << path << ": " << N(vkr::platform::LastSelectionError());
    LONG n = 0;
    list->get_length(&n);
    EXPECT_EQ(n, count) << path << " in " << file << " from '" << context << "'";
    if (!text.empty() && n > 0) {
      ComPtr<IXMLDOMNode> first;
      list->get_item(0, first.Put());
      EXPECT_EQ(Text(first.Get()), text) << path << " in " << file;
    }
  }
}

}  // namespace
}  // namespace vkr::xmltest
