#include "cim/CIMStatusCode.h"

namespace Pegasus {

namespace {
struct StatusText {
    CIMStatusCode code;
    const char* name;
    const char* meaning;
};

const StatusText kStatusTexts[] = {
    {CIM_ERR_SUCCESS, "CIM_ERR_SUCCESS", "The operation succeeded"},
    {CIM_ERR_FAILED, "CIM_ERR_FAILED", "A general error that no more specific code covers"},
    {CIM_ERR_ACCESS_DENIED, "CIM_ERR_ACCESS_DENIED", "Access to a CIM resource is not available to the client"},
    {CIM_ERR_INVALID_NAMESPACE, "CIM_ERR_INVALID_NAMESPACE", "The target namespace does not exist"},
    {CIM_ERR_INVALID_PARAMETER, "CIM_ERR_INVALID_PARAMETER", "One or more parameter values are invalid"},
    {CIM_ERR_INVALID_CLASS, "CIM_ERR_INVALID_CLASS", "The specified class does not exist"},
    {CIM_ERR_NOT_FOUND, "CIM_ERR_NOT_FOUND", "The requested object could not be found"},
    {CIM_ERR_NOT_SUPPORTED, "CIM_ERR_NOT_SUPPORTED", "The requested operation is not supported"},
    {CIM_ERR_CLASS_HAS_CHILDREN, "CIM_ERR_CLASS_HAS_CHILDREN", "The class has subclasses"},
    {CIM_ERR_CLASS_HAS_INSTANCES, "CIM_ERR_CLASS_HAS_INSTANCES", "The class has instances"},
    {CIM_ERR_INVALID_SUPERCLASS, "CIM_ERR_INVALID_SUPERCLASS", "The superclass does not exist"},
    {CIM_ERR_ALREADY_EXISTS, "CIM_ERR_ALREADY_EXISTS", "The object already exists"},
    {CIM_ERR_NO_SUCH_PROPERTY, "CIM_ERR_NO_SUCH_PROPERTY", "The specified property does not exist"},
    {CIM_ERR_TYPE_MISMATCH, "CIM_ERR_TYPE_MISMATCH", "The value supplied is not compatible with the type"},
    {CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED, "CIM_ERR_QUERY_LANGUAGE_NOT_SUPPORTED",
     "The query language is not recognized or supported"},
    {CIM_ERR_INVALID_QUERY, "CIM_ERR_INVALID_QUERY", "The query is not valid for the query language"},
    {CIM_ERR_METHOD_NOT_AVAILABLE, "CIM_ERR_METHOD_NOT_AVAILABLE", "The extrinsic method could not be executed"},
    {CIM_ERR_METHOD_NOT_FOUND, "CIM_ERR_METHOD_NOT_FOUND", "The specified extrinsic method does not exist"},
    {CIM_ERR_NAMESPACE_NOT_EMPTY, "CIM_ERR_NAMESPACE_NOT_EMPTY", "The namespace is not empty"},
    {CIM_ERR_INVALID_ENUMERATION_CONTEXT, "CIM_ERR_INVALID_ENUMERATION_CONTEXT",
     "The enumeration context is not valid"},
    {CIM_ERR_INVALID_OPERATION_TIMEOUT, "CIM_ERR_INVALID_OPERATION_TIMEOUT", "The operation time-out is not supported"},
    {CIM_ERR_PULL_HAS_BEEN_ABANDONED, "CIM_ERR_PULL_HAS_BEEN_ABANDONED", "The pull operation has been abandoned"},
    {CIM_ERR_PULL_CANNOT_BE_ABANDONED, "CIM_ERR_PULL_CANNOT_BE_ABANDONED", "The pull operation cannot be abandoned"},
    {CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED, "CIM_ERR_FILTERED_ENUMERATION_NOT_SUPPORTED",
     "Filtered enumeration is not supported"},
    {CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED, "CIM_ERR_CONTINUATION_ON_ERROR_NOT_SUPPORTED",
     "Continuation on error is not supported"},
    {CIM_ERR_SERVER_LIMITS_EXCEEDED, "CIM_ERR_SERVER_LIMITS_EXCEEDED", "The server has reached a limit"},
    {CIM_ERR_SERVER_IS_SHUTTING_DOWN, "CIM_ERR_SERVER_IS_SHUTTING_DOWN", "The server is shutting down"},
};

const StatusText* lookup(CIMStatusCode code) {
    for (const StatusText& t : kStatusTexts)
        if (t.code == code) return &t;
    return nullptr;
}
}  // namespace

String cimStatusCodeToString(CIMStatusCode code) {
    const StatusText* t = lookup(code);
    if (!t) return String("Unrecognized CIM status code");
    return String(t->name) + ": " + t->meaning;
}

const char* cimStatusCodeName(CIMStatusCode code) {
    const StatusText* t = lookup(code);
    return t ? t->name : "";
}

}  // namespace Pegasus
