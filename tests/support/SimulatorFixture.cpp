#include "SimulatorFixture.h"

#include <stdexcept>

#include "CimConvert.h"
#include "cim/SSLContext.h"

namespace zqtest {

using namespace arraysim;

namespace {
Pegasus::Boolean acceptAnyCertificate(Pegasus::SSLCertificateInfo&) { return true; }
}  // namespace

SimulatorFixture::SimulatorFixture() : SimulatorFixture(Options()) {}

SimulatorFixture::SimulatorFixture(Options options)
    : clock_(options.clock ? options.clock : std::make_shared<zq::platform::VirtualClock>()),
      clientTimeoutRealMs_(options.clientTimeoutRealMs),
      credentials_(options.credentials) {
    if (options.installClock) {
        previousClock_ = zq::platform::setClock(clock_);
        installedClock_ = true;
    }
    sim_ = std::make_unique<ArraySimulator>(std::move(options.cluster), clock_);
    sim_->setCredentials(credentials_);
    ServerOptions server;
    server.httpPort = 0;
    server.httpsPort = options.https ? 0 : -1;
    server_ = std::make_unique<SimHttpServer>(*sim_, server);
    server_->start();
}

SimulatorFixture::~SimulatorFixture() {
    server_->stop();
    if (installedClock_) zq::platform::setClock(previousClock_);
}

std::unique_ptr<Pegasus::CIMClient> SimulatorFixture::client(bool https) const {
    return clientAs(user(), password(), https);
}

std::unique_ptr<Pegasus::CIMClient> SimulatorFixture::clientAs(const std::string& userName,
                                                               const std::string& secret, bool https) const {
    auto c = std::make_unique<Pegasus::CIMClient>();
    double scale = zq::platform::clock().timeScale();
    c->setTimeout(Pegasus::Uint32(double(clientTimeoutRealMs_) / (scale > 0 ? scale : 1.0)));
    if (https) {
        Pegasus::SSLContext ssl("", &acceptAnyCertificate, "");
        c->connect(host(), Pegasus::Uint32(httpsPort()), ssl, userName, secret);
    } else {
        c->connect(host(), Pegasus::Uint32(httpPort()), userName, secret);
    }
    return c;
}

Pegasus::CIMObjectPath SimulatorFixture::configurationService() {
    return sim_->withModel([](Model& m, int64_t now) {
        return toCimPath(m.view(now).pathOf({ObjKind::ConfigService, 0, 0}));
    });
}

Pegasus::CIMObjectPath SimulatorFixture::controllerService() {
    return sim_->withModel([](Model& m, int64_t now) {
        return toCimPath(m.view(now).pathOf({ObjKind::ControllerService, 0, 0}));
    });
}

Pegasus::CIMObjectPath SimulatorFixture::volumePath(const std::string& nameOrUid) {
    return sim_->withModel([&](Model& m, int64_t now) {
        auto v = m.state.volumeByName(nameOrUid) ? m.state.volumeByName(nameOrUid) : m.state.volumeByUid(nameOrUid);
        if (!v) throw std::invalid_argument("no volume " + nameOrUid);
        return toCimPath(m.view(now).pathOf({ObjKind::Volume, v->id, 0}));
    });
}

Pegasus::CIMObjectPath SimulatorFixture::mappingPath(const std::string& source, const std::string& target) {
    Pegasus::Array<Pegasus::CIMKeyBinding> keys;
    keys.append(Pegasus::CIMKeyBinding("SyncedElement", volumePath(target).toString(), Pegasus::CIMKeyBinding::REFERENCE));
    keys.append(Pegasus::CIMKeyBinding("SystemElement", volumePath(source).toString(), Pegasus::CIMKeyBinding::REFERENCE));
    return Pegasus::CIMObjectPath("", Pegasus::CIMNamespaceName(), "IBMTSSVC_LocalStorageSynchronized", keys);
}

std::string SimulatorFixture::volumeUid(const std::string& name) {
    return sim_->withModel([&](Model& m, int64_t) {
        auto v = m.state.volumeByName(name);
        if (!v) throw std::invalid_argument("no volume " + name);
        return v->uid;
    });
}

bool sameObject(const std::string& text, Pegasus::CIMObjectPath expected) {
    Pegasus::CIMObjectPath path;
    try {
        path = Pegasus::CIMObjectPath(Pegasus::String(text));
    } catch (const Pegasus::Exception&) {
        return false;
    }
    for (Pegasus::CIMObjectPath* p : {&path, &expected}) {
        p->setHost(Pegasus::String());
        p->setNameSpace(Pegasus::CIMNamespaceName());
    }
    return !text.empty() && path.identical(expected);
}

}  // namespace zqtest
