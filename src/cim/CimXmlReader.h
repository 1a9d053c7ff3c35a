// Readers of CIM-XML elements from a pugixml tree, one per element. Internal
// to the library (the public entry points are CimResponseDecoder and
// CimRequestDecoder); needs pugixml.
#pragma once

#include <pugixml.hpp>

#include <array>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>

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

// Parses `buffer` in place; XmlFormatError when it is not well-formed.
void parseDocument(pugi::xml_document& doc, std::string& buffer);

// The first child element of `node` named `name` (or any, for null), after
// checking that all child elements are among `allowed` (null-terminated).
pugi::xml_node onlyChild(pugi::xml_node node, const char* const* allowed);
// Throws unless `node` is an element named `name`.
void expectElement(pugi::xml_node node, const char* name);

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
    // Short texts seen lately are shared, not copied again (answers repeat
    // class names, system names, states).
    String sharedText(std::string_view text);
    template <class T>
    T scalar(std::string_view text, CIMType type);
    CIMType typeOf(pugi::xml_attribute attr, pugi::xml_node node, const char* attribute);
    // sizes of the last instance and path read: the next are most often alike
    Uint32 _lastPropertyCount = 0;
    Uint32 _lastKeyCount = 0;
    std::unordered_map<std::string_view, CIMName> _names;
    static constexpr size_t kRecentTexts = 509;
    std::array<String, kRecentTexts> _recentTexts;
    std::string _scratch;
    int _depth = 0;
    friend class DepthGuard;
};

}  // namespace cimxml
}  // namespace Pegasus
