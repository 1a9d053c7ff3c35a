// The provider endpoint a connection uses: address, port text, namespace,
// credentials, client time-out, retry limit and connection state.
#pragma once

#include <cstdint>
#include <string>

#include "ZqCimomParams.h"

enum ZQ_CIM_CONNECTION_STATE {
    ZQ_CIM_CONNECTED = 0,
    ZQ_CIM_DISCONNECTED = 1,
    ZQ_CIM_RETRYING = 2,
};

class ZqCimom {
public:
    ZqCimom() { InitCimom(); }

    // Back to the values after construction.
    void InitCimom();
    // Takes the parameters; the port only when it is above 0.
    void SetCimom(const ZqCimomParams& params);

    std::string GetName() const { return m_Name; }
    std::string GetAddress() const { return m_Address; }
    std::string GetPort() const { return m_Port; }
    std::string GetUserName() const { return m_UserName; }
    std::string GetPassword() const { return m_Password; }
    std::string GetNameSpace() const { return m_NameSpace; }
    std::string GetSmisVersion() const { return m_SmisVersion; }
    bool GetUseSSL() const { return m_UseSSL; }
    uint16_t GetTimeoutSecs() const { return m_TimeoutSecs; }
    uint16_t GetMaxRetries() const { return m_MaxRetries; }
    ZQ_CIM_CONNECTION_STATE GetConnState() const { return m_ConnState; }

    void SetConnState(ZQ_CIM_CONNECTION_STATE state) { m_ConnState = state; }
    void SetTimeoutSecs(uint16_t seconds) { m_TimeoutSecs = seconds; }
    void SetPort(const std::string& port) { m_Port = port; }

private:
    std::string m_Name;
    std::string m_Address;
    std::string m_Port;
    std::string m_NameSpace;
    std::string m_UserName;
    std::string m_Password;
    std::string m_SmisVersion;
    bool m_UseSSL = false;
    ZQ_CIM_CONNECTION_STATE m_ConnState = ZQ_CIM_DISCONNECTED;
    uint16_t m_TimeoutSecs = 300;
    uint16_t m_MaxRetries = 5;
};
