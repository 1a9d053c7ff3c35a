// Readers of CIM-XML elements from a pugixml tree, one per element. Internal
// to the library (the public entry points are CimResponseDecoder and
// CimRequestDecoder); needs pugixml.
#pragma once

#include <pugixml.hpp>

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "cim/CIMClass.h"
#include "cim/CIMInstance.h"
#include "cim/CIMParamValue.h"
#include "cim/CIMStatusCode.h"
#include "cim/CIMValue.h"

namespace Pegasus {
namespace cimxml {

// The document is not the CIM-XML the reader expects.
class XmlFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value does not fit the type it is declared with.
class XmlValueError : public XmlFormatError {
public:
    using XmlFormatError::XmlFormatError;
};

// Flags for parsing CIM-XML: entities and character references decoded, a
// value of blanks kept, no DTD processing.
constexpr unsigned kParseFlags = pugi::parse_default | pugi::parse_ws_pcdata_single;

// Deepest element nesting a document may have; deeper ones are refused
// right after parsing, before anything walks them.
constexpr int kMaxDocumentDepth = 64;

// Parses `buffer` in place; XmlFormatError when it is not well-formed or
// nested deeper than kMaxDocumentDepth.
void parseDocument(pugi::xml_document& doc, std::string& buffer);
// Parses `size` bytes at `data` in place as a fragment (any number of
// elements and text); XmlFormatError when not well-formed or nested deeper
// than `maxDepth`.
void parseFragment(pugi::xml_document& doc, char* data, size_t size, int maxDepth);
// XmlFormatError when an element below `root` is more than `maxDepth`
// levels down. Iterative: the tree may be of any depth.
void checkDepth(pugi::xml_node root, int maxDepth);

// The first child element of `node` named `name` (or any, for null), after
// checking that all child elements are among `allowed` (null-terminated).
pugi::xml_node onlyChild(pugi::xml_node node, const char* const* allowed);
// Throws unless `node` is an element named `name`.
void expectElement(pugi::xml_node node, const char* name);

class PlainText;

class CimXmlReader {
public:
    CIMNamespaceName readLocalNamespacePath(pugi::xml_node node);
    void readNamespacePath(pugi::xml_node node, String& host, CIMNamespaceName& nameSpace);
    CIMName readClassName(pugi::xml_node node);
    CIMKeyBinding readKeyBinding(pugi::xml_node node);
    CIMObjectPath readInstanceName(pugi::xml_node node);
    CIMObjectPath readInstancePath(pugi::xml_node node);
    CIMObjectPath readLocalInstancePath(pugi::xml_node node);
    CIMObjectPath readClassPath(pugi::xml_node node);
    CIMObjectPath readLocalClassPath(pugi::xml_node node);
    // The child of VALUE.REFERENCE, whichever of the six path forms it is.
    CIMObjectPath readValueReference(pugi::xml_node node);
    CIMObjectPath readObjectPath(pugi::xml_node node);

    // VALUE, VALUE.ARRAY, VALUE.REFERENCE or VALUE.REFARRAY as `type`.
    CIMValue readValue(pugi::xml_node node, CIMType type);
    // The value child of `holder` (PROPERTY, QUALIFIER, ...); null of `type` when there is none.
    CIMValue readHeldValue(pugi::xml_node holder, CIMType type, Boolean isArray);

    CIMQualifier readQualifier(pugi::xml_node node);
    CIMProperty readProperty(pugi::xml_node node);
    CIMInstance readInstance(pugi::xml_node node);
    CIMInstance readNamedInstance(pugi::xml_node node);
    // The VALUE.NAMEDINSTANCE items of `text` (whole items, blanks between
    // them) read straight from the text, without a tree, when they are in
    // the plain form providers write: the elements and attributes of
    // instances with string, numeric and boolean values and keys, text
    // without character references other than the five named entities, and
    // nothing else (no comments, CDATA, qualifiers or references). False as
    // soon as anything else shows up, or a value does not read; the text is
    // then to be parsed as a tree. The instances read are appended to `out`.
    bool readPlainNamedInstances(std::string_view text, std::vector<CIMInstance>& out);
    // VALUE.OBJECTWITHPATH of an instance (INSTANCEPATH, INSTANCE); a class is refused.
    CIMInstance readObjectWithPath(pugi::xml_node node);
    CIMParameter readParameter(pugi::xml_node node);
    CIMMethod readMethod(pugi::xml_node node);
    CIMClass readClass(pugi::xml_node node);

    // PARAMVALUE: typed when PARAMTYPE is given; else strings and references.
    CIMParamValue readParamValue(pugi::xml_node node);
    // RETURNVALUE; a string when it has no PARAMTYPE.
    CIMValue readReturnValue(pugi::xml_node node);
    void readError(pugi::xml_node node, CIMStatusCode& code, String& description);

    // Character data of an element that holds text only.
    std::string_view text(pugi::xml_node node);
    // A required (or, with required false, optional) CIM name attribute.
    CIMName name(pugi::xml_node node, const char* attribute, bool required = true);
    CIMType type(pugi::xml_node node, const char* attribute);

private:
    CIMValue readUntypedValue(pugi::xml_node node);
    CIMName internName(pugi::xml_attribute attr);
    CIMName internName(std::string_view text);
    // A key of the given VALUETYPE from its text; string keys as `shared` makes them.
    CIMKeyBinding keyBinding(const CIMName& keyName, std::string_view kind, std::string_view keyText,
                             String (CimXmlReader::*shared)(std::string_view) = &CimXmlReader::sharedText);
    // Names and texts of the plain reader, kept by their place in an item:
    // the items of an answer are most often alike.
    CIMName nameInPlace(std::string_view text);
    String textInPlace(std::string_view text);
    bool readPlainNamedInstance(PlainText& text, CIMInstance& out);
    // Short texts seen lately are shared, not copied again (answers repeat
    // class names, system names, states).
    String sharedText(std::string_view text);
    template <class T>
    T scalar(std::string_view text, CIMType type);
    CIMType typeOf(pugi::xml_attribute attr, pugi::xml_node node, const char* attribute);
    // sizes of the last instance and path read: the next are most often alike
    Uint32 _lastPropertyCount = 0;
    Uint32 _lastKeyCount = 0;
    // Names seen lately (class, property, key names repeat in every item).
    static constexpr size_t kRecentNames = 251;
    std::array<CIMName, kRecentNames> _recentNames;
    static constexpr size_t kRecentTexts = 509;
    std::array<String, kRecentTexts> _recentTexts;
    std::string _scratch;
    static constexpr size_t kPlacesKept = 1024;
    std::vector<CIMName> _namesInPlace;
    std::vector<String> _textsInPlace;
    size_t _nameAt = 0;
    size_t _textAt = 0;
    int _depth = 0;
    friend class DepthGuard;
};

}  // namespace cimxml
}  // namespace Pegasus
