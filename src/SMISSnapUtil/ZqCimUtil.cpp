#include "ZqCimUtil.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "ZqSmisExceptionTrace.h"
#include "ZqSmisReturnValue.h"
#include "cim/Exception.h"

using Pegasus::Array;
using Pegasus::CIMInstance;
using Pegasus::CIMObjectPath;
using Pegasus::CIMParamValue;
using Pegasus::CIMValue;
using Pegasus::String;

ZqCriticalSection ZqCimUtil::m_CimUtilLock;

namespace {

bool ContainsNoCase(const std::string& text, const std::string& part) {
    if (part.empty()) return true;
    if (part.size() > text.size()) return false;
    for (size_t i = 0; i + part.size() <= text.size(); ++i)
        if (Pegasus::equalNoCaseAscii(std::string_view(text).substr(i, part.size()), part)) return true;
    return false;
}

// Whole text a decimal number within [min, max].
bool ParseDecimal(const std::string& text, long long min, long long max, long long& out) {
    if (text.empty()) return false;
    size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (i == text.size()) return false;
    for (size_t k = i; k < text.size(); ++k)
        if (text[k] < '0' || text[k] > '9') return false;
    errno = 0;
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v < min || v > max) return false;
    out = v;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- error table

std::string ZqCimUtil::GetErrorMessage(unsigned int code, std::string methodName) {
    return ::GetErrorMessage(errorTable, code, methodName);
}

// ---------------------------------------------------------------- properties

std::string ZqCimUtil::GetPropByObjPath(const CIMObjectPath& objectPath, const String& keyName) {
    const auto& keys = objectPath.getKeyBindings();
    for (Pegasus::Uint32 i = 0; i < keys.size(); ++i)
        if (String::equalNoCase(keys[i].getName().getString(), keyName)) return keys[i].getValue().toStdString();
    return std::string();
}

std::string ZqCimUtil::GetCIMProp(const CIMInstance& instance, String name) {
    if (instance.isUninitialized()) return std::string();
    for (Pegasus::Uint32 i = 0; i < instance.getPropertyCount(); ++i) {
        auto property = instance.getProperty(i);
        if (property.getName().getString() == name) return property.getValue().toString().toStdString();
    }
    return std::string();
}

std::string ZqCimUtil::GetCIMProp(ZqCimConnection& conn, const std::string& objectPath, String name) {
    try {
        return GetCIMProp(conn.GetInstance(CIMObjectPath(String(objectPath))), name);
    } catch (...) {
        TraceCaughtException(*this, "SMIS::GetCIMProp", ZQ_SOURCE_FILE, __LINE__);
    }
    return std::string();
}

std::string ZqCimUtil::GetCIMProp(ZqCimConnection& conn, const CIMObjectPath& objectPath, String name) {
    return GetCIMProp(conn, objectPath.toString().toStdString(), name);
}

bool ZqCimUtil::GetCIMPropList(ZqCimConnection& conn, const std::string& objectPath,
                               std::map<std::string, std::string>& props) {
    static const char* const kLabel = "SMIS::GetCIMPropList";
    if (props.empty()) {
        DEBUG_TRACE(kLabel, "Empty property list passed in. Nothing to process.");
        return true;
    }
    try {
        CIMInstance instance = conn.GetInstance(CIMObjectPath(String(objectPath)));
        for (auto& entry : props) {
            Pegasus::Uint32 index = PEG_NOT_FOUND;
            for (Pegasus::Uint32 i = 0; i < instance.getPropertyCount() && index == PEG_NOT_FOUND; ++i)
                if (instance.getProperty(i).getName().getString() == String(entry.first)) index = i;
            if (index != PEG_NOT_FOUND) entry.second = instance.getProperty(index).getValue().toString().toStdString();
        }
        return true;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return false;
}

bool ZqCimUtil::GetCIMPropList(ZqCimConnection& conn, const CIMObjectPath& objectPath,
                               std::map<std::string, std::string>& props) {
    return GetCIMPropList(conn, objectPath.toString().toStdString(), props);
}

std::string ZqCimUtil::GetInstanceProp(ZqCimConnection& conn, const CIMInstance& instance, String name, bool& found) {
    found = false;
    try {
        if (instance.isUninitialized()) return std::string();
        auto lookIn = [&](const CIMInstance& in) {
            Pegasus::Uint32 index = in.findProperty(Pegasus::CIMName(name));
            if (index == PEG_NOT_FOUND) return std::string();
            found = true;
            return in.getProperty(index).getValue().toString().toStdString();
        };
        std::string value = lookIn(instance);
        if (found || instance.getPath().getKeyBindings().size() == 0) return value;
        return lookIn(conn.GetInstance(instance.getPath()));
    } catch (...) {
        TraceCaughtException(*this, "SMIS::GetInstanceProp", ZQ_SOURCE_FILE, __LINE__);
    }
    found = false;
    return std::string();
}

bool ZqCimUtil::UpdateInstanceProp(ZqCimConnection& conn, std::string objectPath, std::string propName,
                                   std::string value) {
    static const char* const kLabel = "SMIS::UpdateInstanceProp";
    const bool secret = propName == "Secret";
    try {
        CIMObjectPath path{String(objectPath)};
        CIMInstance instance = conn.GetInstance(path);
        Pegasus::Uint32 index = instance.findProperty(Pegasus::CIMName(String(propName)));
        if (index == PEG_NOT_FOUND) {
            DEBUG_TRACE(kLabel, "Property [%s] not found\n", propName.c_str());
            return false;
        }
        Pegasus::CIMProperty old = instance.getProperty(index);
        CIMValue newValue;
        long long number = 0;
        switch (old.getType()) {
            case Pegasus::CIMTYPE_STRING:
                newValue = CIMValue(String(value));
                break;
            case Pegasus::CIMTYPE_UINT8:
            case Pegasus::CIMTYPE_UINT16: {
                const long long max = old.getType() == Pegasus::CIMTYPE_UINT8 ? 255 : 65535;
                if (!ParseDecimal(value, 0, max, number)) {
                    DEBUG_TRACE(kLabel, "Value %s%s%s is not a number for property [%s]", secret ? "" : "[",
                                secret ? "" : value.c_str(), secret ? "" : "]", propName.c_str());
                    return false;
                }
                if (old.getType() == Pegasus::CIMTYPE_UINT8)
                    newValue = CIMValue(Pegasus::Uint8(number));
                else
                    newValue = CIMValue(Pegasus::Uint16(number));
                break;
            }
            default:
                DEBUG_TRACE(kLabel, "UpdateInstanceProp: Unimplemented datatype %d\n", int(old.getType()));
                return false;
        }
        if (old.isArray()) {
            DEBUG_TRACE(kLabel, "UpdateInstanceProp: Unimplemented datatype %d\n", int(old.getType()));
            return false;
        }
        Pegasus::CIMProperty replacement(old.getName(), newValue, 0, Pegasus::CIMName(), old.getClassOrigin(),
                                         old.getPropagated());
        instance.removeProperty(index);
        instance.addProperty(replacement);
        instance.setPath(path);
        Array<Pegasus::CIMName> names;
        names.append(old.getName());
        conn.GetClient().modifyInstance(conn.GetNameSpace(), instance, true, Pegasus::CIMPropertyList(names));
        if (secret)
            DEBUG_TRACE_NORMAL(kLabel, "Updated the Property [%s]", propName.c_str());
        else
            DEBUG_TRACE_NORMAL(kLabel, "Updated the Property [%s] to [%s]", propName.c_str(), value.c_str());
        return true;
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return false;
}

// ---------------------------------------------------------- objects by property

CIMObjectPath ZqCimUtil::FindNameByKey(ZqCimConnection& conn, const char* label, const String& className,
                                       const String& propName, const std::string& value,
                                       const std::string& systemName) {
    // An empty value would match any name that lacks the key.
    if (value.empty()) {
        DEBUG_TRACE(label, "Class <%s>: no value given for key %s", className.c_str(), propName.c_str());
        return CIMObjectPath();
    }
    Array<CIMObjectPath> names = conn.GetInstanceNames(Pegasus::CIMName(className));
    DEBUG_TRACE_NORMAL(label, "Class <%s> got %d instance names", className.c_str(), int(names.size()));
    for (Pegasus::Uint32 i = 0; i < names.size(); ++i) {
        if (GetPropByObjPath(names[i], propName) != value) continue;
        if (!systemName.empty() && GetPropByObjPath(names[i], "SystemName").find(systemName) == std::string::npos)
            continue;
        return names[i];
    }
    return CIMObjectPath();
}

CIMObjectPath ZqCimUtil::FindByProperty(ZqCimConnection& conn, const char* label, const std::string* systemName,
                                        const String& className, const String& propName, const String& value,
                                        bool exact) {
    Pegasus::CIMPropertyList all;
    Array<CIMInstance> instances = conn.GetInstances(Pegasus::CIMName(className), all);
    DEBUG_TRACE_NORMAL(label, "Class [%s] got %d instances", className.c_str(), int(instances.size()));
    const std::string wanted = value.toStdString();
    for (Pegasus::Uint32 i = 0; i < instances.size(); ++i) {
        Pegasus::Uint32 index = instances[i].findProperty(Pegasus::CIMName(propName));
        if (index == PEG_NOT_FOUND) continue;
        const std::string text = instances[i].getProperty(index).getValue().toString().toStdString();
        bool match = Pegasus::equalNoCaseAscii(text, wanted) || (!exact && ContainsNoCase(text, wanted));
        if (!match) continue;
        const CIMObjectPath& path = instances[i].getPath();
        if (systemName) {
            std::string owner = GetPropByObjPath(path, "SystemName");
            if (owner.empty()) owner = GetPropByObjPath(path, "InstanceID");
            if (owner.find(*systemName) == std::string::npos) continue;
        }
        return path;
    }
    return CIMObjectPath();
}

CIMObjectPath ZqCimUtil::GetObjPathByProp(ZqCimConnection& conn, String className, String propName, std::string value,
                                          std::string systemName) {
    static const char* const kLabel = "SMIS::GetObjPathByProp";
    try {
        return FindNameByKey(conn, kLabel, className, propName, value, systemName);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return CIMObjectPath();
}

CIMObjectPath ZqCimUtil::GetObjPathByPropName(ZqCimConnection& conn, const String& className, String propName,
                                              String value) {
    static const char* const kLabel = "SMIS::GetObjPathByPropName";
    try {
        return FindByProperty(conn, kLabel, nullptr, className, propName, value, true);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return CIMObjectPath();
}

CIMObjectPath ZqCimUtil::GetObjPathByPropName(ZqCimConnection& conn, std::string systemName, String className,
                                              String propName, String value, bool exact) {
    static const char* const kLabel = "SMIS::GetObjPathByPropName";
    try {
        return FindByProperty(conn, kLabel, &systemName, className, propName, value, exact);
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return CIMObjectPath();
}

std::string ZqCimUtil::GetObjPathByPropNamev2(ZqCimConnection& conn, std::string systemName, String className,
                                              String propName, String value, bool exact) {
    return GetObjPathByPropName(conn, systemName, className, propName, value, exact).toString().toStdString();
}

CIMObjectPath ZqCimUtil::GetObjPathByAssnProp(ZqCimConnection& conn, const CIMObjectPath& objectPath,
                                              const String& resultClass, const String& assocClass,
                                              const String& propName, const std::string& propValue) {
    static const char* const kLabel = "SMIS::GetObjPathByAssnProp";
    try {
        Array<CIMObjectPath> found =
            conn.GetAssociatorNames(objectPath, Pegasus::CIMName(assocClass), Pegasus::CIMName(resultClass));
        DEBUG_TRACE_NORMAL(kLabel, "Class <%s> got %d associated instance names through <%s>", resultClass.c_str(),
                           int(found.size()), assocClass.c_str());
        for (Pegasus::Uint32 i = 0; i < found.size(); ++i)
            if (propValue.empty() || GetPropByObjPath(found[i], propName) == propValue) return found[i];
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return CIMObjectPath();
}

// ---------------------------------------------------------------- existence

bool ZqCimUtil::ParseInstancePath(const std::string& text, CIMObjectPath& path) {
    try {
        path = CIMObjectPath(String(text));
    } catch (const Pegasus::MalformedObjectNameException& e) {
        if (e.getMessage().find("malformed") == PEG_NOT_FOUND) throw;
        return false;
    }
    // A bare name that happens to read as a class is no instance path.
    return path.getKeyBindings().size() > 0;
}

int ZqCimUtil::CheckByUniqueId(ZqCimConnection& conn, const std::string& systemName, const std::string& uuid) {
    static const char* const kLabel = "SMIS::CheckInstanceExistence";
    DEBUG_TRACE_NORMAL(kLabel, "Supplied source volume is not an object path, assuming UUID(Name)");
    CIMObjectPath path = FindByProperty(conn, kLabel, &systemName, "CIM_StorageVolume", "Name", String(uuid), true);
    if (path.getClassName().isNull()) {
        DEBUG_TRACE(kLabel, " Lun %s not found", uuid.c_str());
        return 0;
    }
    DEBUG_TRACE_NORMAL(kLabel, "Instance %s found", path.toString().c_str());
    std::string owner = GetPropByObjPath(path, "SystemName");
    if (owner.find(systemName) == std::string::npos) {
        DEBUG_TRACE(kLabel,
                    "Source volume's [%s] system name [%s] does not match with provided system name [%s ]",
                    uuid.c_str(), owner.c_str(), systemName.c_str());
        return 0;
    }
    return 1;
}

int ZqCimUtil::CheckInstanceExistence(ZqCimConnection& conn, const std::string& systemName,
                                      const std::string& objectPathOrId, std::string idToVerify) {
    static const char* const kLabel = "SMIS::CheckInstanceExistence";
    if (objectPathOrId.empty()) {
        DEBUG_TRACE(kLabel, "Neither an object path nor a unique id was given");
        return -1;
    }
    try {
        CIMObjectPath path;
        if (!ParseInstancePath(objectPathOrId, path)) return CheckByUniqueId(conn, systemName, objectPathOrId);
        CIMInstance instance = conn.GetInstance(path);
        DEBUG_TRACE_NORMAL(kLabel, "Instance %s found", objectPathOrId.c_str());
        if (idToVerify.empty()) return 1;
        DEBUG_TRACE_NORMAL(kLabel, "supplied uuid to verify is [%s]", idToVerify.c_str());
        Pegasus::Uint32 index = instance.findProperty("Name");
        if (index == PEG_NOT_FOUND) {
            DEBUG_TRACE(kLabel, "Name property not found for object path [%s]", objectPathOrId.c_str());
            return -1;
        }
        std::string name = instance.getProperty(index).getValue().toString().toStdString();
        if (!Pegasus::equalNoCaseAscii(name, idToVerify)) {
            DEBUG_TRACE(kLabel,
                        "Object path [%s] exists but its uuid [%s] did not match the supplied uuid [%s], it must be "
                        "recreated object with the same object path",
                        objectPathOrId.c_str(), name.c_str(), idToVerify.c_str());
            return 0;
        }
        return 1;
    } catch (const Pegasus::CIMException& e) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
        if (e.getCode() == Pegasus::CIM_ERR_NOT_FOUND || e.getMessage().find("CIM_ERR_NOT_FOUND") != PEG_NOT_FOUND) {
            DEBUG_TRACE(kLabel, " Lun %s not found", objectPathOrId.c_str());
            return 0;
        }
    } catch (...) {
        TraceCaughtException(*this, kLabel, ZQ_SOURCE_FILE, __LINE__);
    }
    return -1;
}

// ---------------------------------------------------------------- method results

std::string ZqCimUtil::GetObjectPathString(const CIMObjectPath& objectPath) {
    return objectPath.toString().toStdString();
}

int ZqCimUtil::GetRetVal(const CIMValue& value) {
    DEBUG_TRACE_NORMAL("SMIS::GetRetVal", "RetCimVal type = %s", Pegasus::cimTypeToString(value.getType()));
    if (value.isNull() || value.isArray()) return ZQ_SMIS_RETVAL_UNREADABLE;
    try {
        switch (value.getType()) {
            case Pegasus::CIMTYPE_STRING: {
                String text;
                value.get(text);
                long long number = 0;
                if (!ParseDecimal(text.toStdString(), INT_MIN, INT_MAX, number)) return ZQ_SMIS_RETVAL_UNREADABLE;
                return int(number);
            }
            case Pegasus::CIMTYPE_UINT32: {
                Pegasus::Uint32 number = 0;
                value.get(number);
                return int(number);
            }
            case Pegasus::CIMTYPE_SINT32: {
                Pegasus::Sint32 number = 0;
                value.get(number);
                return int(number);
            }
            default:
                return ZQ_SMIS_RETVAL_UNREADABLE;
        }
    } catch (...) {
        TraceCaughtException(*this, "SMIS::GetRetVal", ZQ_SOURCE_FILE, __LINE__);
    }
    return ZQ_SMIS_RETVAL_UNREADABLE;
}

void ZqCimUtil::PrintParamSet(const Array<CIMParamValue>& params, bool asError) {
    static const char* const kLabel = "SMIS::PrintParamSet";
    for (Pegasus::Uint32 i = 0; i < params.size(); ++i) {
        const CIMValue& v = params[i].getValue();
        const char* format = "Returned params[%d] <%s> <%s> = %s";
        if (asError)
            DEBUG_TRACE(kLabel, format, int(i), params[i].getParameterName().c_str(),
                        Pegasus::cimTypeToString(v.getType()), v.toString().c_str());
        else
            DEBUG_TRACE_NORMAL(kLabel, format, int(i), params[i].getParameterName().c_str(),
                               Pegasus::cimTypeToString(v.getType()), v.toString().c_str());
    }
}

CIMValue ZqCimUtil::MakeCimNullVal(Pegasus::CIMType type, bool isArray) { return CIMValue(type, isArray); }

CIMObjectPath ZqCimUtil::FindReferenceParam(const Array<CIMParamValue>& params, const char* name,
                                            const char* otherName) {
    for (Pegasus::Uint32 i = 0; i < params.size(); ++i) {
        const CIMValue& v = params[i].getValue();
        if (v.getType() != Pegasus::CIMTYPE_REFERENCE || v.isArray()) continue;
        const String& n = params[i].getParameterName();
        if (n != name && (!otherName || n != otherName)) continue;
        CIMObjectPath path;
        v.get(path);
        return path;
    }
    return CIMObjectPath();
}

CIMObjectPath ZqCimUtil::GetTargetElementHandle(const Array<CIMParamValue>& params) {
    return FindReferenceParam(params, "TargetElement", "TheElement");
}

// ---------------------------------------------------------------- text tools

std::vector<std::string> ZqCimUtil::Tokenize(std::string text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

std::vector<std::string> ZqCimUtil::StringToVector(std::string text, char separator) {
    return Tokenize(std::move(text), separator);
}

Array<String> ZqCimUtil::InputToStringArray(std::string text, char separator) {
    return StrVectorToStrArray(Tokenize(std::move(text), separator));
}

Array<Pegasus::Uint16> ZqCimUtil::InputToIntArray(std::string text, char separator) {
    Array<Pegasus::Uint16> numbers;
    for (const auto& piece : Tokenize(std::move(text), separator)) {
        long long n = 0;
        if (ParseDecimal(piece, 0, 65535, n)) numbers.append(Pegasus::Uint16(n));
    }
    return numbers;
}

Array<String> ZqCimUtil::StrVectorToStrArray(const std::vector<std::string>& list) {
    Array<String> out;
    for (const auto& s : list) out.append(String(s));
    return out;
}

Array<String> ZqCimUtil::StrListToStrArray(const std::list<std::string>& list) {
    Array<String> out;
    for (const auto& s : list) out.append(String(s));
    return out;
}
