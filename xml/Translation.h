// The translation services that stand apart from the translation document's owner: where the
// translation file is, reading a text file whole, the look-up paths of enumeration entries and
// toolkit messages with their built-in English texts, and the id placeholder of a function's own
// translation file.
//
// Texts come from "VornExampleDtmTranslation.xml" (see resources/), whose translatable elements
// hold one `locale` child per language code; the look-ups go through IovFdtTranslation, so the
// language fallbacks of its implementation apply to every one of them.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "include/TranslationInterfaces.h"

// The translation file's name, in the directory GetTranslationPath gives.
inline constexpr OLECHAR kTranslationFileName[] = u"VornExampleDtmTranslation.xml";
// Where the directory may be configured: HKLM\<key>, REG_SZ value <name>.
inline constexpr char kTranslationPathKey[] = "SOFTWARE\\Vorntec\\VKR Series DTM\\Files";
inline constexpr char kTranslationPathValue[] = "TranslationPath";
// Registry values longer than this (in characters) count as absent.
inline constexpr DWORD kTranslationPathCapacity = 260;
// ReadTextFile refuses larger files (E_OUTOFMEMORY): a translation file is a few hundred KiB.
inline constexpr DWORD kMaxTextFileBytes = 16u * 1024u * 1024u;

// The directory of the translation file, always ending with a separator: the registry value when
// it is set (a relative value is taken beside the module, like the default), otherwise the module's
// directory followed by ".\". E_INVALIDARG for a null pointer, E_OUTOFMEMORY; S_OK otherwise.
HRESULT GetTranslationPath(BSTR* path);

// The file (a Windows path, 8-bit text) read whole into a new BSTR. The bytes are decoded by their
// byte-order mark (UTF-8, UTF-16LE, UTF-16BE), otherwise as UTF-8, the 8-bit code page. E_POINTER
// for null pointers; the file cannot be opened: E_FAIL; larger than kMaxTextFileBytes or no
// memory: E_OUTOFMEMORY; fewer bytes read than its size: E_UNEXPECTED; UTF-16 of an odd byte
// count: HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION). *text is null unless S_OK.
HRESULT ReadTextFile(LPCSTR path, BSTR* text);

// The translated label of one entry of an enumeration, through the source's IovFdtTranslation
// (none, or a null source: E_FAIL). Looks for the entry's `Label` (where the translation file keeps
// it) and then for texts directly below the `EnumerationEntry` element. A failing look-up's error
// is returned; nothing found: E_FAIL; found: S_OK. E_POINTER for a null text; *text is null
// unless S_OK.
HRESULT GetEnumerationEntryText(IUnknown* translationSource, ULONG enumerationId, LONG entryValue, BSTR* text);

// The text of a toolkit message for a user interface: the translation through the DTM's
// IovFdtTranslation when it finds one, otherwise the built-in English text of ids 1001 to 1006,
// 4001 and 4002, otherwise null. Always S_OK, except E_POINTER for a null text. dtm may be null.
HRESULT GetToolkitMessageText(IUnknown* dtm, ULONG id, BSTR* text);
// The built-in English text of a toolkit message for user interfaces; null for other ids.
const OLECHAR* BuiltInToolkitMessageText(ULONG id);

// A function's own translation file as a document text: every "%d" becomes the function id and
// "%%" becomes '%'; every other character, '%' included, stays as it is (the file is never used
// as a format). E_POINTER for a null out, E_OUTOFMEMORY.
HRESULT SubstituteFunctionId(BSTR text, LONG functionId, BSTR* out);

namespace vkr {
// The path as a person reads it: "." steps and doubled separators left out ("D:\a\.\b.xml" is
// "D:\a\b.xml"); a leading run of separators (a root, a UNC name) stays as it is.
std::u16string TidyPath(std::u16string_view path);
// Whether the file can be read as a document at all. When not, *problem says why, after the tidy
// path: "<path>: the file does not exist", "... is a directory, not a file", "... is empty",
// "... cannot be opened: <the error>".
bool CheckDocumentFile(std::u16string_view path, std::string* problem);

// The translation documents of the calling thread, by the text they were loaded from: the DTMs of
// one thread (they use their translation on their apartment's thread only) share the document of
// one text while they only read it. Null when the thread has none for the text. The thread keeps
// at most a few documents, the latest, and only while some DTM holds them: a DTM that lets go of
// a shared document calls ForgetUnusedTranslationDocuments afterwards.
ComPtr<IXMLDOMDocument2> SharedTranslationDocument(std::u16string_view text);
void KeepTranslationDocument(std::u16string_view text, IXMLDOMDocument2* document);
void ForgetUnusedTranslationDocuments();
// The answers of look-ups made on a shared document (which nobody changes while it is shared), by
// the look-up's key: found with the answer (absent: nothing was found), or false when not asked yet.
bool FindSharedLocaleText(IXMLDOMDocument2* document, std::u16string_view key, std::optional<std::u16string>* text);
void KeepSharedLocaleText(IXMLDOMDocument2* document, std::u16string_view key, const std::optional<std::u16string>& text);
// A translation file's root element as text, kept by the file's path and bytes, so the DTMs that
// load one file parse it once and a rewritten file is parsed again (whatever its time stamp).
// The Name and Description texts of the parameters a shared document lists, in one language
// (key: the language attribute and code), the first element of each id in the list's order
// (absent: no text). Made once on a shared document for all DTMs of the thread; only a list whose
// every look-up answered is kept.
struct SharedParameterText {
  ULONG id = 0;
  std::optional<std::u16string> name;
  std::optional<std::u16string> description;
};
using SharedParameterTexts = std::shared_ptr<const std::vector<SharedParameterText>>;
SharedParameterTexts FindSharedParameterTexts(IXMLDOMDocument2* document, std::u16string_view key);
void KeepSharedParameterTexts(IXMLDOMDocument2* document, std::u16string_view key, SharedParameterTexts texts);
bool FindReadTranslationFile(const std::u16string& path, std::u16string* xml);
void KeepReadTranslationFile(const std::u16string& path, std::u16string_view xml);

// The text as an XPath string literal: in double quotes, or in single quotes when it holds a
// double quote; false when it holds both, which no literal can carry.
bool XPathStringLiteral(std::u16string_view text, std::u16string* literal);
// A decimal number as UTF-16 text.
std::u16string DecimalText(long long value);
}  // namespace vkr
