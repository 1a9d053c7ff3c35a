#include "CimOperations.h"

#include <algorithm>
#include <set>

#include "ClassCatalog.h"
#include "CimConvert.h"
#include "TextUtil.h"
#include "cim/CIMParameter.h"
#include "cim/CIMProperty.h"
#include "cim/CIMQualifier.h"
#include "cim/CimResponseWriter.h"

namespace arraysim {

using namespace Pegasus;
using cimxml::CimRequest;
using cimxml::CimRequestParam;
using cimxml::CimResponseWriter;

namespace {
std::string lower(const String& s) { return toLower(s.toStdString()); }

// The class a request names; CIM_ERR_INVALID_CLASS when the provider has none.
const ClassDecl& requireClass(const std::string& name) {
    const ClassDecl* c = ClassCatalog::instance().find(name);
    if (!c) throw CimError(CimStatus::InvalidClass, "class " + name + " does not exist");
    return *c;
}

const ClassDecl* optionalClassParam(const CimRequest& req, const char* name) {
    CIMName cls = req.classNameParam(name);
    if (cls.isNull()) return nullptr;
    const ClassDecl* c = ClassCatalog::instance().find(cls.getString().toStdString());
    if (!c) throw CimError(CimStatus::InvalidParameter, std::string(name) + " names no class: " + cls.getString().toStdString());
    return c;
}

PropertyFilter filterOf(const CIMPropertyList& list) {
    if (list.isNull()) return PropertyFilter();
    std::vector<std::string> names;
    for (Uint32 i = 0; i < list.size(); ++i) names.push_back(list[i].getString().toStdString());
    return PropertyFilter::only(names);
}

// Properties the answer may carry: those of `asClass` (own and inherited),
// further limited by the PropertyList.
PropertyFilter restrictTo(const ClassDecl& asClass, const PropertyFilter& list) {
    PropertyFilter f;
    f.all = false;
    for (auto p : ClassCatalog::instance().allProperties(asClass))
        if (list.wants(p->name)) f.lowerNames.push_back(toLower(p->name));
    return f;
}

CIMInstance toInstance(const CimView& view, const ObjRef& ref, const PropertyFilter& filter) {
    const char* cls = CimView::className(ref.kind);
    std::vector<SimProperty> props;
    props.reserve(24);
    SimPath path = view.pathOf(ref);
    view.render(ref, filter, props, &path);
    CIMInstance inst{cimName(cls)};
    inst.setPath(toCimPath(path));
    inst.reservePropertyCapacity(Uint32(props.size()));
    auto& catalog = ClassCatalog::instance();
    for (auto& p : props) {
        CIMName refClass;
        if (p.value.type == SimType::Reference)
            if (auto decl = catalog.property(cls, p.name)) refClass = CIMName(decl->refClass);
        inst.appendPropertyUnchecked(CIMProperty(cimName(p.name), toCimValue(p.value), 0, refClass));
    }
    return inst;
}

ObjRef resolveOrThrow(const CimView& view, const CIMObjectPath& path) {
    if (path.getClassName().isNull()) throw CimError(CimStatus::InvalidParameter, "an instance name is required");
    requireClass(path.getClassName().getString().toStdString());
    ObjRef ref;
    if (!view.resolve(fromCimPath(path), ref)) throw CimError(CimStatus::NotFound, "no instance " + path.toString().toStdString());
    return ref;
}

constexpr size_t kChunkBytes = 256 * 1024;

XmlOutput::Sink collect(AnswerBody& body) {
    return [&body](std::string_view chunk) {
        body.chunks.emplace_back(chunk);
        body.size += chunk.size();
    };
}

void writeError(AnswerBody& body, const CimRequest& req, uint32_t code, const std::string& text) {
    body = AnswerBody();
    XmlOutput out(collect(body), kChunkBytes);
    CimResponseWriter w(out, req.messageId);
    w.error(req.methodName, req.intrinsic, static_cast<CIMStatusCode>(code), String(text));
    out.finish();
}

std::string paramText(const CimRequestParam& p) {
    switch (p.kind) {
        case CimRequestParam::NULL_VALUE: return "";
        case CimRequestParam::CLASS_NAME: return p.className.getString().toStdString();
        case CimRequestParam::INSTANCE:
        case CimRequestParam::NAMED_INSTANCE: return p.instance.getPath().toString().toStdString();
        default: return fromCimValue(p.value).text();
    }
}
}  // namespace

void describeRequest(const CimRequest& req, LoggedRequest& log) {
    log.operation = req.intrinsic ? req.methodName.toStdString() : "InvokeMethod";
    log.method = req.intrinsic ? "" : req.methodName.toStdString();
    if (!req.intrinsic) {
        log.target = req.target.toString().toStdString();
    } else {
        log.target = req.nameSpace.getString().toStdString();
        for (const char* name : {"InstanceName", "ObjectName", "ModifiedInstance", "ClassName"})
            if (auto p = req.findParam(name)) {
                log.target = paramText(*p);
                break;
            }
    }
    for (auto& p : req.params) {
        LoggedParam lp;
        lp.name = p.name.toStdString();
        lp.paramType = p.paramType.toStdString();
        lp.isArray = p.isArray();
        lp.isNull = p.isNull();
        try {
            lp.value = paramText(p);
        } catch (const std::exception&) {
            lp.value = p.value.toString().toStdString();
        }
        log.params.push_back(std::move(lp));
    }
}

std::string AnswerBody::text() const {
    std::string out;
    out.reserve(size);
    for (auto& c : chunks) out += c;
    return out;
}

AnswerBody CimOperations::handle(const CimRequest& req, const std::string& host, LoggedRequest& log) {
    describeRequest(req, log);
    AnswerBody body;
    try {
        if (!equalsNoCase(req.nameSpace.getString().toStdString(), kNamespace))
            throw CimError(CimStatus::InvalidNamespace, "namespace " + req.nameSpace.getString().toStdString() +
                                                            " does not exist");
        XmlOutput out(collect(body), kChunkBytes);
        if (req.intrinsic)
            intrinsic(req, host, out);
        else
            extrinsic(req, out, log);
        out.finish();
    } catch (const CimError& e) {
        log.cimStatus = e.code();
        writeError(body, req, e.code(), e.what());
    } catch (const CIMException& e) {
        log.cimStatus = e.getCode();
        writeError(body, req, e.getCode(), e.getMessage().toStdString());
    } catch (const Pegasus::Exception& e) {
        // Malformed reference keys, values that do not fit their type.
        log.cimStatus = CimStatus::InvalidParameter;
        writeError(body, req, CimStatus::InvalidParameter, e.getMessage().toStdString());
    }
    return body;
}

// ---------------------------------------------------------------- intrinsic

void CimOperations::intrinsic(const CimRequest& req, const std::string& host, XmlOutput& out) {
    const std::string op = lower(req.methodName);
    CimResponseWriter w(out, req.messageId);
    cimxml::WriteOptions options;
    options.includeQualifiers = false;
    options.includeClassOrigin = false;

    if (op == "getinstance") {
        CIMObjectPath path = req.instanceNameParam("InstanceName");
        PropertyFilter filter = filterOf(req.propertyListParam());
        CIMInstance inst = sim_.withModel([&](Model& m, int64_t now) {
            CimView view = m.view(now);
            ObjRef ref = resolveOrThrow(view, path);
            CIMInstance result = toInstance(view, ref, filter);
            if (ref.kind == ObjKind::Job) m.jobs.polled(ref.a, now);
            return result;
        });
        w.beginIMethodResponse(req.methodName);
        w.instance(inst, options);
        w.endIMethodResponse();
    } else if (op == "enumerateinstances" || op == "enumerateinstancenames") {
        CIMName clsName = req.classNameParam("ClassName");
        if (clsName.isNull()) throw CimError(CimStatus::InvalidParameter, "ClassName is required");
        const ClassDecl& cls = requireClass(clsName.getString().toStdString());
        bool names = op == "enumerateinstancenames";
        bool deep = req.booleanParam("DeepInheritance", true);
        PropertyFilter list = filterOf(req.propertyListParam());
        auto& catalog = ClassCatalog::instance();
        w.beginIMethodResponse(req.methodName);
        sim_.withModel([&](Model& m, int64_t now) {
            CimView view = m.view(now);
            for (const ClassDecl* concrete : catalog.concreteUnder(cls.name)) {
                ObjKind kind;
                if (!CimView::kindOfClass(concrete->name, kind)) continue;
                PropertyFilter filter = deep && list.all ? PropertyFilter() : restrictTo(deep ? *concrete : cls, list);
                std::vector<uint64_t> jobsRead;
                view.enumerate(kind, [&](const ObjRef& ref) {
                    if (names) {
                        w.instanceName(toCimPath(view.pathOf(ref)));
                        return;
                    }
                    w.namedInstance(toInstance(view, ref, filter), options);
                    if (kind == ObjKind::Job) jobsRead.push_back(ref.a);
                });
                for (uint64_t id : jobsRead) m.jobs.polled(id, now);
            }
            return 0;
        });
        w.endIMethodResponse();
    } else if (op == "associatornames" || op == "referencenames") {
        bool assoc = op == "associatornames";
        CIMObjectPath path = req.instanceNameParam("ObjectName");
        const ClassDecl* assocClass = assoc ? optionalClassParam(req, "AssocClass") : nullptr;
        const ClassDecl* resultClass = optionalClassParam(req, "ResultClass");
        std::string role = req.stringParam("Role").toStdString();
        std::string resultRole = assoc ? req.stringParam("ResultRole").toStdString() : "";
        auto& catalog = ClassCatalog::instance();
        std::vector<CIMObjectPath> found = sim_.withModel([&](Model& m, int64_t now) {
            CimView view = m.view(now);
            ObjRef self = resolveOrThrow(view, path);
            std::vector<std::pair<ObjRef, std::string>> refs;
            view.referencesOf(self, refs);
            std::vector<CIMObjectPath> result;
            std::vector<ObjRef> seen;
            auto add = [&](const ObjRef& r) {
                if (std::find(seen.begin(), seen.end(), r) != seen.end()) return;
                seen.push_back(r);
                result.push_back(toCimPath(view.pathOf(r), host, kNamespace));
            };
            for (auto& [a, myRole] : refs) {
                const char* aClass = CimView::className(a.kind);
                if (!role.empty() && !equalsNoCase(role, myRole)) continue;
                if (!assoc) {
                    if (!resultClass || catalog.isA(aClass, resultClass->name)) add(a);
                    continue;
                }
                if (assocClass && !catalog.isA(aClass, assocClass->name)) continue;
                std::vector<std::pair<std::string, ObjRef>> ends;
                view.endsOf(a, ends);
                for (auto& [endRole, other] : ends) {
                    if (equalsNoCase(endRole, myRole)) continue;
                    if (!resultRole.empty() && !equalsNoCase(resultRole, endRole)) continue;
                    if (resultClass && !catalog.isA(CimView::className(other.kind), resultClass->name)) continue;
                    add(other);
                }
            }
            return result;
        });
        w.beginIMethodResponse(req.methodName);
        for (auto& p : found) w.objectPath(p);
        w.endIMethodResponse();
    } else if (op == "getclass") {
        CIMName clsName = req.classNameParam("ClassName");
        if (clsName.isNull()) throw CimError(CimStatus::InvalidParameter, "ClassName is required");
        if (!ClassCatalog::instance().find(clsName.getString().toStdString()))
            throw CimError(CimStatus::NotFound, "class " + clsName.getString().toStdString() + " does not exist");
        CIMClass cls = classDeclaration(clsName.getString().toStdString(), req.booleanParam("LocalOnly", true));
        cimxml::WriteOptions classOptions;
        classOptions.includeQualifiers = req.booleanParam("IncludeQualifiers", true);
        classOptions.includeClassOrigin = req.booleanParam("IncludeClassOrigin", false);
        classOptions.propertyList = req.propertyListParam();
        w.beginIMethodResponse(req.methodName);
        w.cimClass(cls, classOptions);
        w.endIMethodResponse();
    } else if (op == "modifyinstance") {
        CIMInstance modified = req.instanceParam("ModifiedInstance");
        if (modified.getClassName().isNull())
            throw CimError(CimStatus::InvalidParameter, "ModifiedInstance is required");
        CIMPropertyList list = req.propertyListParam();
        CIMObjectPath path = modified.getPath();
        SimPath target = fromCimPath(path);
        // The properties to change: those listed (all when no list) that are
        // not keys and differ from their present value.
        std::vector<SimProperty> changes = sim_.withModel([&](Model& m, int64_t now) {
            CimView view = m.view(now);
            ObjRef ref = resolveOrThrow(view, path);
            std::vector<SimProperty> current;
            view.render(ref, PropertyFilter(), current);
            const char* cls = CimView::className(ref.kind);
            std::vector<SimProperty> result;
            for (Uint32 i = 0; i < modified.getPropertyCount(); ++i) {
                CIMProperty p = modified.getProperty(i);
                std::string name = p.getName().getString().toStdString();
                if (!list.isNull() && !list.contains(p.getName())) continue;
                auto decl = ClassCatalog::instance().property(cls, name);
                if (!decl) throw CimError(CimStatus::NoSuchProperty, "no property " + name);
                if (decl->key) continue;
                SimValue v = fromCimValue(p.getValue());
                auto now_ = std::find_if(current.begin(), current.end(),
                                         [&](const SimProperty& c) { return equalsNoCase(c.name, name); });
                if (now_ != current.end() && now_->value.text() == v.text() && !v.isNull) continue;
                result.push_back({decl->name, v});
            }
            return result;
        });
        sim_.modifyInstance(target, changes);
        w.emptyIMethodResponse(req.methodName);
    } else if (op == "deleteinstance") {
        CIMObjectPath path = req.instanceNameParam("InstanceName");
        if (path.getClassName().isNull()) throw CimError(CimStatus::InvalidParameter, "InstanceName is required");
        requireClass(path.getClassName().getString().toStdString());
        sim_.deleteInstance(fromCimPath(path));
        w.emptyIMethodResponse(req.methodName);
    } else {
        throw CimError(CimStatus::NotSupported, req.methodName.toStdString() + " is not supported");
    }
}

// ---------------------------------------------------------------- extrinsic

void CimOperations::extrinsic(const CimRequest& req, XmlOutput& xml, LoggedRequest& log) {
    std::vector<SimParam> params;
    for (auto& p : req.params) params.push_back(fromRequestParam(p));
    SimPath target = fromCimPath(req.target);
    requireClass(target.className);
    MethodResult result = sim_.invoke(target, req.methodName.toStdString(), params);
    Array<CIMParamValue> out;
    for (auto& p : result.out) out.append(CIMParamValue(String(p.name), toCimValue(p.value), true));
    log.returnValue = std::to_string(result.returnValue);
    CimResponseWriter w(xml, req.messageId);
    w.methodResponse(req.methodName, CIMValue(Uint32(result.returnValue)), out);
}

// ---------------------------------------------------------------- classes

namespace {
CIMParameter toParameter(const ParamDecl& p) {
    CIMParameter out(CIMName(p.name), static_cast<CIMType>(p.type), p.array, 0,
                     p.type == SimType::Reference ? CIMName(p.refClass) : CIMName());
    out.addQualifier(CIMQualifier(CIMName("In"), CIMValue(Boolean(p.in))));
    if (p.out) out.addQualifier(CIMQualifier(CIMName("Out"), CIMValue(Boolean(true))));
    return out;
}

const ClassDecl* declaringClass(const std::string& className, const std::string& member, bool method) {
    auto& catalog = ClassCatalog::instance();
    const ClassDecl* found = nullptr;
    for (const ClassDecl* c = catalog.find(className); c; c = c->superclass.empty() ? nullptr : catalog.find(c->superclass)) {
        if (method) {
            for (auto& m : c->methods)
                if (equalsNoCase(m.name, member)) found = c;
        } else {
            for (auto& p : c->properties)
                if (equalsNoCase(p.name, member)) found = c;
        }
    }
    return found;
}
}  // namespace

CIMClass CimOperations::classDeclaration(const std::string& className, bool localOnly) {
    auto& catalog = ClassCatalog::instance();
    const ClassDecl& c = *catalog.find(className);
    CIMClass cls(CIMName(c.name), c.superclass.empty() ? CIMName() : CIMName(c.superclass));
    if (c.association) cls.addQualifier(CIMQualifier(CIMName("Association"), CIMValue(Boolean(true))));
    for (auto p : catalog.allProperties(c)) {
        const ClassDecl* origin = declaringClass(c.name, p->name, false);
        bool own = origin == &c;
        if (localOnly && !own) continue;
        CIMProperty prop(CIMName(p->name), CIMValue(static_cast<CIMType>(p->type), p->array), 0,
                         p->type == SimType::Reference ? CIMName(p->refClass) : CIMName(),
                         origin ? CIMName(origin->name) : CIMName(), !own);
        if (p->key) prop.addQualifier(CIMQualifier(CIMName("Key"), CIMValue(Boolean(true))));
        cls.addProperty(prop);
    }
    for (auto m : catalog.allMethods(c)) {
        const ClassDecl* origin = declaringClass(c.name, m->name, true);
        bool own = origin == &c;
        if (localOnly && !own) continue;
        if (cls.findMethod(CIMName(m->name)) != PEG_NOT_FOUND) continue;
        CIMMethod method(CIMName(m->name), static_cast<CIMType>(m->returnType),
                         origin ? CIMName(origin->name) : CIMName(), !own);
        for (auto& p : m->params) method.addParameter(toParameter(p));
        cls.addMethod(method);
    }
    return cls;
}

}  // namespace arraysim
