// The simulator as a CIM server: authentication, header checks, CIM errors,
// bad input, many clients, and the transport faults it can inject.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "SimTestClient.h"

using namespace simit;
using arraysim::Fault;

namespace {
const CIMNamespaceName kNs("root/ibm");

std::string messageText(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const Exception& e) {
        return e.getMessage().toStdString();
    }
    return "no error";
}


cimxml::EncodedRequest enumerateNames(const char* cls = "CIM_StoragePool") {
    return cimxml::encodeEnumerateInstanceNames("4711", kNs, CIMName(cls));
}
}  // namespace

TEST(SimProtocol, BasicAuthenticationRefusesWrongCredentialsWith401) {
    zqtest::SimulatorFixture fx;
    std::string text = messageText([&] {
        fx.clientAs("admin", "not-the-password")->enumerateInstanceNames(kNs, CIMName("CIM_ComputerSystem"));
    });
    EXPECT_NE(text.find("401"), std::string::npos) << text;
    EXPECT_EQ(text.find("not-the-password"), std::string::npos) << "no secret in an error text";

    RawHttp raw{fx.httpPort(), "admin", "nope"};
    RawAnswer a = raw.send(enumerateNames());
    EXPECT_EQ(a.status, 401);
    EXPECT_EQ(a.header("WWW-Authenticate").rfind("Basic realm=", 0), 0u);

    auto log = fx.sim().requestLog().snapshot();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().httpStatus, 401);
    EXPECT_EQ(fx.client()->enumerateInstanceNames(kNs, CIMName("CIM_ComputerSystem")).size(), 7u);
}

TEST(SimProtocol, HeadersAreCheckedLikeACimServerDoes) {
    zqtest::SimulatorFixture fx;
    RawHttp raw{fx.httpPort()};
    cimxml::EncodedRequest r = enumerateNames();

    RawAnswer ok = raw.send(r);
    ASSERT_EQ(ok.status, 200);
    EXPECT_EQ(ok.header("CIMOperation"), "MethodResponse");
    EXPECT_NE(ok.body.find("MESSAGE ID=\"4711\""), std::string::npos) << "the MESSAGE ID is echoed";

    auto headers = [&](std::map<std::string, std::string> change) {
        std::map<std::string, std::string> h = {{"CIMOperation", "MethodCall"},
                                                {"CIMMethod", "EnumerateInstanceNames"},
                                                {"CIMObject", "root/ibm"}};
        for (auto& [k, v] : change) {
            if (v.empty())
                h.erase(k);
            else
                h[k] = v;
        }
        return raw.post(r.body, h);
    };
    EXPECT_EQ(headers({}).status, 200) << "plain (not percent-encoded) headers are accepted";
    EXPECT_EQ(headers({{"Content-Type", "text/xml; charset=utf-8"}}).status, 200);

    RawAnswer mismatch = headers({{"CIMMethod", "GetInstance"}});
    EXPECT_EQ(mismatch.status, 400);
    EXPECT_EQ(mismatch.header("CIMError"), "header-mismatch");
    EXPECT_EQ(headers({{"CIMObject", "root/other"}}).header("CIMError"), "header-mismatch");
    EXPECT_EQ(headers({{"CIMOperation", ""}}).header("CIMError"), "unsupported-operation");
    EXPECT_EQ(headers({{"Content-Type", "text/plain"}}).status, 400);
    EXPECT_EQ(headers({{"CIMProtocolVersion", "2.0"}}).status, 501);

    RawAnswer broken = raw.post("<CIM><MESSAGE", {{"CIMOperation", "MethodCall"}, {"CIMMethod", "GetInstance"},
                                                  {"CIMObject", "root/ibm"}});
    EXPECT_EQ(broken.status, 400);
    EXPECT_EQ(broken.header("CIMError"), "request-not-well-formed");

    RawAnswer huge = raw.post(std::string(17 * 1024 * 1024, 'x'), {{"CIMOperation", "MethodCall"}});
    EXPECT_EQ(huge.status, 413);

    EXPECT_EQ(raw.send(r).status, 200) << "the server keeps serving after bad input";
}

TEST(SimProtocol, CimErrorsCarryTheStandardCodes) {
    zqtest::SimulatorFixture fx;
    auto c = fx.client();
    CIMObjectPath missing("IBMTSSVC_StorageVolume.CreationClassName=\"IBMTSSVC_StorageVolume\",DeviceID=\"99\","
                          "SystemCreationClassName=\"IBMTSSVC_IOGroup\",SystemName=\"0000020060C14A2C:0\"");
    EXPECT_EQ(cimCode([&] { c->enumerateInstanceNames(CIMNamespaceName("root/cimv2"), CIMName("CIM_StorageVolume")); }),
              CIM_ERR_INVALID_NAMESPACE);
    EXPECT_EQ(cimCode([&] { c->enumerateInstances(kNs, CIMName("XYZ_Nothing")); }), CIM_ERR_INVALID_CLASS);
    EXPECT_EQ(cimCode([&] { c->getInstance(kNs, missing); }), CIM_ERR_NOT_FOUND);
    Array<CIMParamValue> out;
    EXPECT_EQ(cimCode([&] { c->invokeMethod(kNs, fx.configurationService(), CIMName("Explode"), Array<CIMParamValue>(), out); }),
              CIM_ERR_METHOD_NOT_FOUND);
    EXPECT_EQ(cimCode([&] {
                  Array<CIMParamValue> in;
                  in.append(ref("Synchronization", CIMObjectPath("IBMTSSVC_LocalStorageSynchronized.SystemElement=\"x\"")));
                  c->invokeMethod(kNs, fx.configurationService(), CIMName("ModifySynchronization"), in, out);
              }),
              CIM_ERR_INVALID_PARAMETER)
        << "a missing Operation (and volumes that do not exist)";
    Array<CIMParamValue> bad;
    bad.append(CIMParamValue("ElementName", CIMValue(Uint32(5))));
    EXPECT_EQ(cimCode([&] { c->invokeMethod(kNs, fx.configurationService(), CIMName("CreateSynchronizedSet"), bad, out); }),
              CIM_ERR_INVALID_PARAMETER)
        << "a number where a string is declared";

    // An intrinsic operation the provider does not have.
    cimxml::EncodedRequest r = enumerateNames();
    std::string body = r.body;
    for (size_t at; (at = body.find("EnumerateInstanceNames")) != std::string::npos;)
        body.replace(at, 22, "EnumerateClassNames");
    RawAnswer a = RawHttp{fx.httpPort()}.post(
        body, {{"CIMOperation", "MethodCall"}, {"CIMMethod", "EnumerateClassNames"}, {"CIMObject", "root/ibm"}});
    EXPECT_EQ(a.status, 200);
    EXPECT_NE(a.body.find("CODE=\"7\""), std::string::npos) << a.body;
}

TEST(SimProtocol, ManyKeptAliveClientsAndASlowOneAreServedTogether) {
    zqtest::SimulatorFixture fx;
    // A client that sends half a request and then nothing.
    int slow = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(fx.httpPort()));
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    ASSERT_EQ(::connect(slow, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const char partial[] = "POST /cimom HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 500\r\n\r\n<?xml";
    ASSERT_GT(::send(slow, partial, sizeof partial - 1, 0), 0);
    // And one that gives up half-way and closes its side.
    int halfClosed = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(halfClosed, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_GT(::send(halfClosed, partial, sizeof partial - 1, 0), 0);
    ::shutdown(halfClosed, SHUT_WR);

    constexpr int kClients = 24;  // well above the eight workers of a default server
    std::atomic<int> answers{0};
    std::vector<std::unique_ptr<CIMClient>> clients;
    for (int i = 0; i < kClients; ++i) clients.push_back(fx.client());
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i)
        threads.emplace_back([&, i] {
            try {
                for (int k = 0; k < 20; ++k)
                    if (clients[i]->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_Node")).size() == 4) ++answers;
            } catch (const Exception&) {
                // counted as missing answers below
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(answers.load(), kClients * 20);
    char buf[64];
    timeval bound{15, 0};  // the server drops a stalled request after its 10 s read time-out
    setsockopt(halfClosed, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    EXPECT_EQ(::recv(halfClosed, buf, sizeof buf, 0), 0) << "the half-closed client gets no answer, only the close";
    ::close(halfClosed);
    ::close(slow);
}

TEST(SimProtocol, TransportFaultsAreInjectedPerOperation) {
    zqtest::SimulatorFixture fx;
    auto c = fx.client();
    auto names = [&] { c->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_Node")); };

    fx.sim().faults().add(Fault::http("EnumerateInstanceNames", 500, 1));
    std::string text = messageText(names);
    EXPECT_NE(text.find("HTTP"), std::string::npos) << text;
    EXPECT_NE(text.find("500"), std::string::npos) << text;
    EXPECT_EQ(messageText(names), "no error") << "one-shot";

    fx.sim().faults().add(Fault::http("*", 401, 1));
    EXPECT_NE(messageText(names).find("401"), std::string::npos);

    fx.sim().faults().add(Fault::drop("EnumerateInstanceNames", 1));
    text = messageText(names);
    EXPECT_NE(text.find("HTTP"), std::string::npos) << text;
    auto again = fx.client();
    EXPECT_EQ(again->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_Node")).size(), 4u);

    fx.sim().faults().add(Fault::latency("GetInstance", 20));
    fx.sim().faults().add(Fault::stall("EnumerateInstanceNames", 5000, 1));
    again->setTimeout(1000);
    text = messageText([&] { again->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_Node")); });
    EXPECT_NE(text.find("timed out"), std::string::npos) << text;
    EXPECT_EQ(fx.client()->getInstance(kNs, fx.configurationService()).getClassName().getString(),
              "IBMTSSVC_StorageConfigurationService")
        << "latency slows an answer, it does not break it";
    auto left = fx.sim().faults().list();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].kind, Fault::Kind::Latency) << "the persistent fault stays";
}

// A hold keeps the n-th request unserved until it is removed; the test
// knows by its hits when the request came, and the array changes only once
// the request is let go.
TEST(SimProtocol, AHeldRequestIsServedOnlyOnceItsHoldIsRemoved) {
    zqtest::SimulatorFixture fx;
    auto c = fx.client();
    const uint64_t hold = fx.sim().faults().add(Fault::hold("*").after(1));
    EXPECT_EQ(c->enumerateInstanceNames(kNs, CIMName("IBMTSSVC_Node")).size(), 4u) << "the first one goes";
    auto hits = [&] {
        for (const auto& f : fx.sim().faults().list())
            if (f.id == hold) return f.hits;
        return -1;
    };
    std::atomic<size_t> answered{0};
    std::thread second([&] { answered = c->enumerateInstanceNames(kNs, CIMName("CIM_StoragePool")).size() + 1; });
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (hits() < 1 && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    EXPECT_EQ(hits(), 1);
    EXPECT_EQ(answered.load(), 0u);
    EXPECT_EQ(fx.sim().requestLog().size(), 1u) << "the held request is not served";
    EXPECT_TRUE(fx.sim().faults().remove(hold));
    second.join();
    EXPECT_GT(answered.load(), 1u);
    EXPECT_EQ(fx.sim().requestLog().size(), 2u);
    EXPECT_FALSE(fx.sim().faults().remove(hold)) << "gone";
}
