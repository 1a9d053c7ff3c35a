// zqcim: a command-line CIM-XML client on the zqcim library.
#include <CLI/CLI.hpp>

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

json pathsJson(const Array<CIMObjectPath>& paths, bool text) {
    json list = json::array();
    for (const CIMObjectPath& p : paths) {
        if (text) std::cout << p.toString() << "\n";
        list.push_back(p.toString().toStdString());
    }
    return list;
}

// Runs the operation; the result goes into `doc` and, without --json, to stdout.
void run(const Options& o, const CimUrl& url, CIMClient& client, json& doc) {
    const CIMNamespaceName ns = url.path.getNameSpace();
    const CIMName cls = url.path.getClassName();
    bool text = !o.json;
    const std::string& op = o.operation;
    if (op == "ei") {
        Array<CIMInstance> all =
            client.enumerateInstances(ns, cls, o.deep, o.localOnly, o.qualifiers, o.classOrigin, propertyList(o));
        doc["instances"] = json::array();
        for (const CIMInstance& inst : all) {
            if (text) resultprinter::printInstance(std::cout, inst);
            doc["instances"].push_back(resultprinter::instanceJson(inst));
        }
    } else if (op == "ein") {
        doc["paths"] = pathsJson(client.enumerateInstanceNames(ns, cls), text);
    } else if (op == "gi") {
        requireKeys(url, o);
        CIMInstance inst = client.getInstance(ns, url.path, o.localOnly, o.qualifiers, o.classOrigin, propertyList(o));
        if (text) resultprinter::printInstance(std::cout, inst);
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
        Array<CIMParamValue> out;
        CIMValue ret = client.invokeMethod(ns, url.path, CIMName(String(o.method)), in, out);
        if (text) resultprinter::printParam(std::cout, CIMParamValue("ReturnValue", ret));
        doc["returnValue"] = {{"type", cimTypeToString(ret.getType())}, {"value", resultprinter::valueJson(ret)}};
        doc["outParameters"] = json::array();
        for (const CIMParamValue& p : out) {
            if (text) resultprinter::printParam(std::cout, p);
            doc["outParameters"].push_back(resultprinter::paramJson(p));
        }
    }
}

int fail(const Options& o, json& doc, const char* kind, int exitStatus, json code, const std::string& text) {
    doc["error"] = {{"kind", kind}, {"code", code}, {"text", text}};
    if (o.json)
        std::cout << doc.dump(2) << "\n";
    else
        std::cerr << "zqcim: " << kind << " error: " << text << "\n";
    return exitStatus;
}

int execute(const Options& o) {
    json doc = {{"operation", o.operation}, {"url", nullptr}};
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
        run(o, url, client, doc);
        client.disconnect();
    } catch (const UsageError& e) {
        return fail(o, doc, "usage", 64, nullptr, e.what());
    } catch (const std::invalid_argument& e) {
        return fail(o, doc, "usage", 64, nullptr, e.what());
    } catch (const CIMException& e) {
        return fail(o, doc, "cim", 1, int(e.getCode()), e.getMessage().toStdString());
    } catch (const CIMClientHTTPErrorException& e) {
        return fail(o, doc, "http", 2, e.getCode(), e.getMessage().toStdString());
    } catch (const CannotConnectException& e) {
        return fail(o, doc, "connect", 3, nullptr, e.getMessage().toStdString());
    } catch (const ConnectionTimeoutException& e) {
        return fail(o, doc, "timeout", 4, nullptr, e.getMessage().toStdString());
    } catch (const InvalidNameException& e) {
        return fail(o, doc, "usage", 64, nullptr, e.getMessage().toStdString());
    } catch (const Exception& e) {
        return fail(o, doc, "protocol", 5, nullptr, e.getMessage().toStdString());
    }
    if (o.json) std::cout << doc.dump(2) << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    CLI::App app{"zqcim: a CIM-XML client for debugging a CIM provider and for conformance checks"};
    app.footer(std::string(R"(
URL: http[s]://[user[:password]@]host[:port]/namespace:Class[.Key="value",...]
  (percent-encode "@" and "/" in user and password). Without a password in
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
