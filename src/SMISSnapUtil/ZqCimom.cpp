#include "ZqCimom.h"

#include "ZqSmisSettings.h"

void ZqCimom::InitCimom() {
    m_Name.clear();
    m_Address.clear();
    m_Port = "5988";
    m_NameSpace.clear();
    m_UserName.clear();
    m_Password.clear();
    m_SmisVersion = "1.3";
    m_UseSSL = false;
    m_ConnState = ZQ_CIM_DISCONNECTED;
    m_TimeoutSecs = ZqSmisSettings::DefaultClientTimeoutSecs();
    m_MaxRetries = ZqSmisSettings::GetHostModuleInt("ZQ_PEGASUS_FAULT_RETRY", 0) != 0 ? 15 : 5;
}

void ZqCimom::SetCimom(const ZqCimomParams& params) {
    m_Name = params.Name;
    m_Address = params.Address;
    m_NameSpace = params.NameSpace;
    m_UserName = params.UserName;
    m_Password = params.Password;
    m_TimeoutSecs = params.TimeoutSecs;
    m_MaxRetries = params.MaxRetries;
    m_UseSSL = params.UseSSL;
    if (params.Port > 0) m_Port = std::to_string(params.Port);
}
