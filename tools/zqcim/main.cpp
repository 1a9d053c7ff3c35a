// zqcim: a command-line CIM-XML client on the zqcim library.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "CimUrl.h"
#include "ParamArgs.h"
#include "ResultPrinter.h"
#include "cim/CIMClient.h"

using namespace Pegasus;
using nlohmann::json;

namespace {

const char* kSystemCaBundle = "/etc/ssl/certs/ca-certificates.crt";

struct Options {
    std::string operation;
    std::string url;
    bool json = false;
    unsigned timeout = 60000;
    bool insecure = false;
    std::string caFile;
    std::string passwordEnv = "ZQCIM_PASSWORD";
    std::vector<std::string> properties;
    bool propertiesGiven = false;
    bool deep = true;
    bool localOnly = false;
    bool qualifiers = false;
    bool classOrigin = false;
    std::string assocClass, resultClass, role, resultRole;
    std::string method;
    std::vector<std::string> args;
};

struct UsageError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

CIMPropertyList propertyList(const Options& o) {
    if (!o.propertiesGiven) return CIMPropertyList();
    Array<CIMName> names;
    for (const std::string& p : o.properties)
        if (!p.empty()) names.append(CIMName(String(p)));
    return CIMPropertyList(names);
}

void requireKeys(const CimUrl& url, const Options& o) {
    if (url.path.getKeyBindings().size() == 0)
        throw UsageError(o.operation + " needs an instance path: /namespace:Class.Key=\"value\"");
}

// Standard output through one large buffer.
class Output {
public:
    ~Output() { flush(); }
    std::string& text() { return _buffer; }
    void maybeFlush() {
        if (_buffer.size() >= (size_t(1) << 20)) flush();
    }
    void flush() {
        if (!_buffer.empty()) std::fwrite(_buffer.data(), 1, _buffer.size(), stdout);
        _buffer.clear();
        std::fflush(stdout);
    }

private:
    std::string _buffer;
};

// The JSON document of an ei, written as the instances come so that no list
// of them is held: the head at the first instance, then one instance per
// line. Without instances the document is written whole at the end.
class InstanceStream {
public:
    explicit InstanceStream(Output& out) : _out(out) {}
    bool started() const { return _started; }
    void add(const json& doc, const CIMInstance& instance) {
        std::string& text = _out.text();
        if (!_started) {
            text += "{\n  \"operation\": " + doc["operation"].dump() + ",\n  \"url\": " + doc["url"].dump() +
                    ",\n  \"instances\": [\n    ";
            _started = true;
        } else {
            text += ",\n    ";
        }
        text += resultprinter::instanceJson(instance).dump();
        _out.maybeFlush();
    }
    // Closes the document, with the error when there is one.
    void finish(const json* error) {
        std::string& text = _out.text();
        text += "\n  ]";
        if (error) text += ",\n  \"error\": " + error->dump();
        text += "\n}\n";
        _out.flush();
    }

private:
    Output& _out;
    bool _started = false;
};

void printInstances(const Array<CIMInstance>& instances, bool text, Output& out, json& doc) {
    doc["instances"] = json::array();
    for (const CIMInstance& inst : instances) {
        if (text) {
            resultprinter::appendInstance(out.text(), inst);
            out.maybeFlush();
        } else {
            doc["instances"].push_back(resultprinter::instanceJson(inst));
        }
    }
}

json pathsJson(const Array<CIMObjectPath>& paths, bool text) {
    json list = json::array();
    for (const CIMObjectPath& p : paths) {
        if (text) std::cout << p.toString() << "\n";
        list.push_back(p.toString().toStdString());
    }
    return list;
}

// Runs the operation; the result goes into `doc` (with --json) or to stdout.
// The instances of ei go out as they are read.
void run(const Options& o, const CimUrl& url, CIMClient& client, json& doc, Output& out, InstanceStream& stream) {
    const CIMNamespaceName ns = url.path.getNameSpace();
    const CIMName cls = url.path.getClassName();
    bool text = !o.json;
    const std::string& op = o.operation;
    if (op == "ei") {
        client.enumerateInstances(ns, cls, o.deep, o.localOnly, o.qualifiers, o.classOrigin, propertyList(o),
                                  [&](CIMInstance& inst) {
                                      if (!text) return stream.add(doc, inst);
                                      resultprinter::appendInstance(out.text(), inst);
                                      out.maybeFlush();
                                  });
        if (!text && !stream.started()) doc["instances"] = json::array();
    } else if (op == "ai") {
        requireKeys(url, o);
        printInstances(client.associators(ns, url.path, CIMName(String(o.assocClass)), CIMName(String(o.resultClass)),
                                          String(o.role), String(o.resultRole), o.qualifiers, o.classOrigin,
                                          propertyList(o)),
                       text, out, doc);
    } else if (op == "ri") {
        requireKeys(url, o);
        printInstances(client.references(ns, url.path, CIMName(String(o.resultClass)), String(o.role), o.qualifiers,
                                         o.classOrigin, propertyList(o)),
                       text, out, doc);
    } else if (op == "ein") {
        doc["paths"] = pathsJson(client.enumerateInstanceNames(ns, cls), text);
    } else if (op == "gi") {
        requireKeys(url, o);
        CIMInstance inst = client.getInstance(ns, url.path, o.localOnly, o.qualifiers, o.classOrigin, propertyList(o));
        if (text)
            resultprinter::appendInstance(out.text(), inst);
        else
            doc["instance"] = resultprinter::instanceJson(inst);
    } else if (op == "ain") {
        requireKeys(url, o);
        doc["paths"] = pathsJson(client.associatorNames(ns, url.path, CIMName(String(o.assocClass)),
                                                        CIMName(String(o.resultClass)), String(o.role),
                                                        String(o.resultRole)),
                                 text);
    } else if (op == "rin") {
        requireKeys(url, o);
        doc["paths"] = pathsJson(client.referenceNames(ns, url.path, CIMName(String(o.resultClass)), String(o.role)), text);
    } else if (op == "mi") {
        requireKeys(url, o);
        Array<CIMParamValue> values = parseParamArgs(o.args);
        if (values.size() == 0) throw UsageError("mi needs at least one name[:type]=value");
        CIMInstance inst(cls);
        Array<CIMName> names;
        for (const CIMParamValue& v : values) {
            inst.addProperty(CIMProperty(CIMName(v.getParameterName()), v.getValue()));
            names.append(CIMName(v.getParameterName()));
        }
        inst.setPath(url.path);
        client.modifyInstance(ns, inst, false, CIMPropertyList(names));
        if (text) std::cout << "done\n";
        doc["done"] = true;
    } else if (op == "di") {
        requireKeys(url, o);
        client.deleteInstance(ns, url.path);
        if (text) std::cout << "done\n";
        doc["done"] = true;
    } else if (op == "gc") {
        CIMClass c = client.getClass(ns, cls, o.localOnly, o.qualifiers, o.classOrigin, propertyList(o));
        if (text) resultprinter::printClass(std::cout, c);
        doc["class"] = resultprinter::classJson(c);
    } else if (op == "cm") {
        Array<CIMParamValue> in = parseParamArgs(o.args);
        Array<CIMParamValue> outParameters;
        CIMValue ret = client.invokeMethod(ns, url.path, CIMName(String(o.method)), in, outParameters);
        if (text) resultprinter::printParam(std::cout, CIMParamValue("ReturnValue", ret));
        doc["returnValue"] = {{"type", cimTypeToString(ret.getType())}, {"value", resultprinter::valueJson(ret)}};
        doc["outParameters"] = json::array();
        for (const CIMParamValue& p : outParameters) {
            if (text) resultprinter::printParam(std::cout, p);
            doc["outParameters"].push_back(resultprinter::paramJson(p));
        }
    }
}

int execute(const Options& o) {
    json doc = {{"operation", o.operation}, {"url", nullptr}};
    Output out;
    InstanceStream stream(out);
    auto fail = [&](const char* kind, int exitStatus, json code, const std::string& text) {
        json error = {{"kind", kind}, {"code", code}, {"text", text}};
        out.flush();
        if (stream.started()) {
            stream.finish(&error);
        } else if (o.json) {
            doc["error"] = error;
            std::cout << doc.dump(2) << "\n";
        } else {
            std::cerr << "zqcim: " << kind << " error: " << text << "\n";
        }
        return exitStatus;
    };
    try {
        CimUrl url;
        try {
            url = CimUrl::parse(o.url);
        } catch (const std::invalid_argument& e) {
            throw UsageError(std::string("bad URL: ") + e.what());
        }
        doc["url"] = url.display();
        if (!url.user.empty() && url.password.empty()) {
            const char* fromEnv = std::getenv(o.passwordEnv.c_str());
            if (fromEnv) url.password = fromEnv;
        }
        CIMClient client;
        client.setTimeout(o.timeout);
        if (url.https) {
            std::string trust = o.caFile;
            if (!o.insecure && trust.empty()) {
                if (!std::ifstream(kSystemCaBundle)) throw UsageError("give --cacert FILE or --insecure for https");
                trust = kSystemCaBundle;
            }
            client.connect(String(url.host), url.port, SSLContext(String(o.insecure ? "" : trust)), String(url.user),
                           String(url.password));
        } else {
            client.connect(String(url.host), url.port, String(url.user), String(url.password));
        }
        run(o, url, client, doc, out, stream);
        client.disconnect();
    } catch (const UsageError& e) {
        return fail("usage", 64, nullptr, e.what());
    } catch (const std::invalid_argument& e) {
        return fail("usage", 64, nullptr, e.what());
    } catch (const CIMException& e) {
        return fail("cim", 1, int(e.getCode()), e.getMessage().toStdString());
    } catch (const CIMClientHTTPErrorException& e) {
        return fail("http", 2, e.getCode(), e.getMessage().toStdString());
    } catch (const CannotConnectException& e) {
        return fail("connect", 3, nullptr, e.getMessage().toStdString());
    } catch (const ConnectionTimeoutException& e) {
        return fail("timeout", 4, nullptr, e.getMessage().toStdString());
    } catch (const InvalidNameException& e) {
        return fail("usage", 64, nullptr, e.getMessage().toStdString());
    } catch (const Exception& e) {
        return fail("protocol", 5, nullptr, e.getMessage().toStdString());
    }
    if (stream.started())
        stream.finish(nullptr);
    else if (o.json)
        out.text() += doc.dump(2) + "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"zqcim: a CIM-XML client for debugging a CIM provider and for conformance checks"};
    app.footer(std::string(R"(
URL: http[s]://[user[:password]@]host[:port]/namespace:Class[.Key="value",...]
  (percent-encode "/" in user and password, and ":" in the user). Without a password in
  the URL, it is read from the variable named by --password-env.
Parameters of mi and cm: name=value (untyped string), name:type=value,
  name:type[]=value (one array element; repeat for more), name:type (null),
  name:type[] (null array); reference values are object path texts.
Examples:
  zqcim ein http://admin@svc:5988/root/ibm:IBMTSSVC_StorageVolume
  zqcim --json gi 'https://admin@svc/root/ibm:IBMTSSVC_StorageVolume.DeviceID="12",...' --insecure
  zqcim cm 'http://u@svc/root/ibm:IBMTSSVC_StorageConfigurationService.Name="S",...' \
      CreateSynchronizedSet ElementName:string=cg1 CopyType:uint16=4

)") + resultprinter::jsonLayoutHelp());
    app.add_flag("--json", o.json, "Print one JSON document per call (layout below)");
    app.add_option("--timeout", o.timeout, "Milliseconds a request may take")->capture_default_str();
    app.add_flag("-k,--insecure", o.insecure, "https: accept any server certificate");
    app.add_option("--cacert", o.caFile, "https: trust the CA certificates in this PEM file or directory");
    app.add_option("--password-env", o.passwordEnv, "Variable holding the password when the URL has none")
        ->capture_default_str();
    app.require_subcommand(1, 1);
    app.fallthrough();

    // a subcommand whose first argument is the URL
    auto operation = [&](const char* name, const char* description) {
        CLI::App* sub = app.add_subcommand(name, description);
        sub->add_option("url", o.url, "Target URL")->required();
        return sub;
    };
    auto addInstanceOptions = [&](CLI::App* sub) {
        sub->add_option("-p,--properties", o.properties, "Only these properties (comma-separated)")
            ->delimiter(',')
            ->each([&](const std::string&) { o.propertiesGiven = true; });
        sub->add_flag("--local-only", o.localOnly, "LocalOnly");
        sub->add_flag("--qualifiers", o.qualifiers, "IncludeQualifiers");
        sub->add_flag("--class-origin", o.classOrigin, "IncludeClassOrigin");
    };
    CLI::App* ei = operation("ei", "EnumerateInstances of the URL's class");
    addInstanceOptions(ei);
    ei->add_flag("!--shallow", o.deep, "DeepInheritance FALSE");
    operation("ein", "EnumerateInstanceNames of the URL's class");
    addInstanceOptions(operation("gi", "GetInstance of the URL's instance path"));
    CLI::App* ain = operation("ain", "AssociatorNames of the URL's instance path");
    ain->add_option("--ac,--assoc-class", o.assocClass, "Association class");
    ain->add_option("--arc,--result-class", o.resultClass, "Result class");
    ain->add_option("--role", o.role, "Role");
    ain->add_option("--rr,--result-role", o.resultRole, "Result role");
    CLI::App* ai = operation("ai", "Associators of the URL's instance path (instances)");
    addInstanceOptions(ai);
    ai->add_option("--ac,--assoc-class", o.assocClass, "Association class");
    ai->add_option("--arc,--result-class", o.resultClass, "Result class");
    ai->add_option("--role", o.role, "Role");
    ai->add_option("--rr,--result-role", o.resultRole, "Result role");
    CLI::App* ri = operation("ri", "References of the URL's instance path (instances)");
    addInstanceOptions(ri);
    ri->add_option("--arc,--result-class", o.resultClass, "Result (association) class");
    ri->add_option("--role", o.role, "Role");
    CLI::App* rin = operation("rin", "ReferenceNames of the URL's instance path");
    rin->add_option("--arc,--result-class", o.resultClass, "Result (association) class");
    rin->add_option("--role", o.role, "Role");
    operation("mi", "ModifyInstance: set the given properties")
        ->add_option("properties", o.args, "name[:type]=value ...")
        ->required();
    operation("di", "DeleteInstance of the URL's instance path");
    addInstanceOptions(operation("gc", "GetClass of the URL's class, with its methods"));
    CLI::App* cm = operation("cm", "Call a method on the URL's instance or class");
    cm->add_option("method", o.method, "Method name")->required();
    cm->add_option("parameters", o.args, "name[:type]=value ...");

    CLI11_PARSE(app, argc, argv);
    o.operation = app.get_subcommands().front()->get_name();
    return execute(o);
}
