// Values of IBMTSSVC_ConcreteStoragePool.NativeStatus (the pool's state as the
// array reports it), compared as text.
#pragma once

// IBMTSSVC_ConcreteStoragePool.NativeStatus: offline.
constexpr const char* POOL_NATIVE_STATUS_OFFLINE = "0";
// IBMTSSVC_ConcreteStoragePool.NativeStatus: online.
constexpr const char* POOL_NATIVE_STATUS_ONLINE = "1";
// IBMTSSVC_ConcreteStoragePool.NativeStatus: not usable for new volumes.
constexpr const char* POOL_NATIVE_STATUS_UNUSABLE = "3";
