// CIM lookups of the SMI-S layers: objects by property, volumes by unique id
// (with a process-wide cache), existence checks, single properties, FlashCopy
// synchronizations, pools, the array's system object, host view controllers,
// cluster nodes, method results and text lists.
//
// Every lookup runs on a connected ZqCimConnection in its provider namespace,
// traces its steps, and catches every error: no exception leaves this class.
// Lookups answer an empty path or text when nothing is found or on error;
// those with an integer result tell the two apart.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

#include "ZqCimConnection.h"
#include "ZqCriticalSection.h"
#include "ZqSmisErrorTable.h"
#include "ZqSmisTracer.h"
#include "cim/CIMInstance.h"
#include "cim/CIMObjectPath.h"
#include "cim/CIMParamValue.h"
#include "cim/CIMValue.h"

class ZqCimUtil : public ZqSmisTracer {
public:
    ZqCimUtil() = default;

    // How GetVolumeObjectPath reads its volume text.
    enum VolumeRef : unsigned int {
        VOLUME_REF_DETECT = 0,     // an object path if it parses, else a unique id, else a device id
        VOLUME_REF_PATH = 1,       // the text of an object path
        VOLUME_REF_DEVICE_ID = 2,  // the "DeviceID" of a volume
        VOLUME_REF_UNIQUE_ID = 3,  // the "Name" (unique id) of a volume
    };

    // --- SMI-S return-code texts
    void SetSMISErrorTable(const ErrorTable* table) { errorTable = table; }
    // Text of a method return value ("default" when the method has no item).
    std::string GetErrorMessage(unsigned int code, std::string methodName);

    // --- objects by property
    // First instance name of the class whose key `propName` equals `value`
    // and, when given, whose "SystemName" key contains `systemName`. An
    // empty `value` matches nothing.
    Pegasus::CIMObjectPath GetObjPathByProp(ZqCimConnection& conn, Pegasus::String className, Pegasus::String propName,
                                            std::string value, std::string systemName);
    // First instance whose property `propName` equals `value`, ignoring case.
    Pegasus::CIMObjectPath GetObjPathByPropName(ZqCimConnection& conn, const Pegasus::String& className,
                                                Pegasus::String propName, Pegasus::String value);
    // The same within `systemName` ("SystemName" key, else "InstanceID" key,
    // contains it); `exact` false also accepts `value` as a substring.
    Pegasus::CIMObjectPath GetObjPathByPropName(ZqCimConnection& conn, std::string systemName,
                                                Pegasus::String className, Pegasus::String propName,
                                                Pegasus::String value, bool exact);
    std::string GetObjPathByPropNamev2(ZqCimConnection& conn, std::string systemName, Pegasus::String className,
                                       Pegasus::String propName, Pegasus::String value, bool exact);
    // First result of AssociatorNames through `assocClass` to `resultClass`
    // whose key `propName` equals `propValue` (any result when `propValue` is
    // empty).
    Pegasus::CIMObjectPath GetObjPathByAssnProp(ZqCimConnection& conn, const Pegasus::CIMObjectPath& objectPath,
                                                const Pegasus::String& resultClass, const Pegasus::String& assocClass,
                                                const Pegasus::String& propName, const std::string& propValue);

    // --- properties
    // Value of a key binding of the path (name ignoring case); no provider call.
    std::string GetPropByObjPath(const Pegasus::CIMObjectPath& objectPath, const Pegasus::String& keyName);
    // Text of the first property whose name equals `name` exactly; empty when none.
    std::string GetCIMProp(const Pegasus::CIMInstance& instance, Pegasus::String name);
    std::string GetCIMProp(ZqCimConnection& conn, const std::string& objectPath, Pegasus::String name);
    std::string GetCIMProp(ZqCimConnection& conn, const Pegasus::CIMObjectPath& objectPath, Pegasus::String name);
    // Reads the instance once and stores the value of every key of `props`
    // that names one of its properties. False only when the instance cannot
    // be read.
    bool GetCIMPropList(ZqCimConnection& conn, const std::string& objectPath, std::map<std::string, std::string>& props);
    bool GetCIMPropList(ZqCimConnection& conn, const Pegasus::CIMObjectPath& objectPath,
                        std::map<std::string, std::string>& props);
    // Property of the instance; when the instance lacks it and has a path,
    // of the instance read again from the provider. `found` tells whether it
    // was there.
    std::string GetInstanceProp(ZqCimConnection& conn, const Pegasus::CIMInstance& instance, Pegasus::String name,
                                bool& found);
    // Sets a string, uint8 or uint16 property through ModifyInstance. The
    // value of "Secret" never reaches a log.
    bool UpdateInstanceProp(ZqCimConnection& conn, std::string objectPath, std::string propName, std::string value);

    // --- existence
    // 1 exists, 0 absent, -1 error. `objectPathOrId` is a path, or a unique id
    // looked up by "Name" within `systemName`; `idToVerify`, when given, must
    // equal the instance's "Name".
    int CheckInstanceExistence(ZqCimConnection& conn, const std::string& systemName, const std::string& objectPathOrId,
                               std::string idToVerify);

    // --- volumes
    // Path text of the "CIM_StorageVolume" whose "Name" is `uuid` (within
    // `systemName` when given); empty when none. Uses the shared volume list
    // when "ZQ_SMIS_CACHE_VOLUME_INSTANCES" is set.
    std::string GetVolObjPathByUUID(ZqCimConnection& conn, Pegasus::String uuid, Pegasus::String systemName);
    // The same through "IBMTSSVC_ConciseVolume": one or two requests, then a
    // search of the volume names by device id. A concise name without
    // "DeviceID" or "Cluster", or a volume without "Name", gives empty text.
    // The concise names are kept per provider (host, port, namespace) and
    // fetched without holding m_CimUtilLock: a slow provider holds up no
    // lookup on another.
    std::string GetIBMSVCVolObjPathByUUID(ZqCimConnection& conn, std::string uuid, std::string systemName);
    // The same lookup telling its outcomes apart: 1 found (`path` set), 0 no
    // such volume, -1 the provider could not be asked (`path` empty).
    int FindIBMSVCVolObjPathByUUID(ZqCimConnection& conn, const std::string& uuid, const std::string& systemName,
                                   std::string& path);
    // Volume path from a path text, device id or unique id (`kind`, a
    // VolumeRef); the path text, empty when not found.
    std::string GetVolumeObjectPath(ZqCimConnection& conn, const std::string& systemName, const std::string& volume,
                                    Pegasus::CIMObjectPath& out, unsigned int kind);
    // Empties the shared volume and hardware-id lists.
    static void ClearSharedCaches();

    // --- synchronizations
    // IBM SVC: the "IBMTSSVC_LocalStorageSynchronized" path of the pair, built
    // without a provider call. Others: the only "CIM_StorageSynchronized"
    // reference of the target.
    Pegasus::CIMObjectPath GetSyncPath(ZqCimConnection& conn, Pegasus::String nameSpace, std::string systemName,
                                       Pegasus::CIMObjectPath source, Pegasus::CIMObjectPath target);
    // Sets class name and the two reference keys; returns the text form.
    std::string MakeAssnPath(Pegasus::CIMObjectPath& assnPath, const Pegasus::String& className,
                             const Pegasus::String& firstRole, const Pegasus::CIMObjectPath& first,
                             const Pegasus::String& secondRole, const Pegasus::CIMObjectPath& second);
    // 0 found (outputs set), 1 none, -1 error, several, or a target that is
    // now the source of its only synchronization (outputs unchanged).
    // `targetName`: the target's "Name" when the caller has just read it.
    int GetSyncPathFromTarget(ZqCimConnection& conn, std::string targetPath, std::string& syncPath,
                              std::string& sourcePath, std::string& sourceId,
                              const std::string* targetName = nullptr);
    // 0 found, 1 none, -1 error or another source.
    int GetSyncPathFromTargetAndSource(ZqCimConnection& conn, const std::string& targetPath,
                                       const std::string& sourcePath, std::string& syncPath);
    // Copies of the source whose "ElementName" contains `namePart`, as
    // "Name" -> path text. 0 found (possibly none matching), -1 no
    // synchronization or error.
    int GetAllSyncPathFromSource(ZqCimConnection& conn, std::string sourcePath, std::string namePart,
                                 std::map<std::string, std::string>& targets);

    // --- system, services, pools
    Pegasus::CIMObjectPath GetSystemObjPathByNameProp(ZqCimConnection& conn, std::string systemName);
    std::string GetSystemObjPathString(ZqCimConnection& conn, std::string systemName);
    // Vendor class prefix and namespace of the system ("IBMTSSVC", "root/ibm").
    std::string GetVendorByName(ZqCimConnection& conn, std::string systemName);
    std::string GetVendorNamespaceByName(ZqCimConnection& conn, std::string systemName);
    // First instance name of `className` whose "SystemName" key equals
    // `systemName`; false when none.
    bool ValidateSystemName(ZqCimConnection& conn, const std::string& systemName, const Pegasus::String& className,
                            Pegasus::CIMObjectPath& path);
    // The system's "CIM_ControllerConfigurationService"; empty when none.
    Pegasus::CIMObjectPath GetCtlrservicePath(ZqCimConnection& conn, const Pegasus::CIMObjectPath& systemPath);
    // Pool path text by "ElementName"; empty when none.
    std::string GetDGByName(ZqCimConnection& conn, std::string systemName, std::string poolName);

    // --- host view controllers
    // Controllers of the hardware ids that hold the initiators.
    Pegasus::Array<Pegasus::CIMObjectPath> GetIBMSVCCtlrListByHwIDs(ZqCimConnection& conn,
                                                                    const Pegasus::CIMObjectPath& systemPath,
                                                                    const Pegasus::Array<Pegasus::String>& initiators);
    // Of those, the controllers through which the volumes are exposed.
    Pegasus::Array<Pegasus::CIMObjectPath> GetIBMSVCCtlrListByHwIDs(
        ZqCimConnection& conn, const Pegasus::CIMObjectPath& systemPath,
        const Pegasus::Array<Pegasus::CIMObjectPath>& volumes, const Pegasus::Array<Pegasus::String>& initiators);
    // Controllers through which the volume is exposed ("CIM_ProtocolControllerForUnit"
    // to "CIM_SCSIProtocolController"). False when the provider could not be asked.
    bool GetVolCtlrPaths(ZqCimConnection& conn, const Pegasus::CIMObjectPath& volume,
                         Pegasus::Array<Pegasus::CIMObjectPath>& controllers);
    // Controllers of the volumes: all of them without initiators, else those
    // of the initiators' hosts. False when the provider could not be asked.
    bool GetCtlrPathList(ZqCimConnection& conn, const Pegasus::CIMObjectPath& systemPath,
                         const Pegasus::Array<Pegasus::CIMObjectPath>& volumes,
                         const Pegasus::Array<Pegasus::String>& initiators,
                         Pegasus::Array<Pegasus::CIMObjectPath>& controllers);
    // The same with volumes given by "Name" (looked up within the system).
    bool GetCtlrPathList(ZqCimConnection& conn, const Pegasus::CIMObjectPath& systemPath,
                         const Pegasus::Array<Pegasus::String>& volumeNames,
                         const Pegasus::Array<Pegasus::String>& initiators,
                         Pegasus::Array<Pegasus::CIMObjectPath>& controllers);
    // The system's "CIM_SCSIProtocolController" instances whose "DeviceID"
    // is in the list.
    Pegasus::Array<Pegasus::CIMObjectPath> GetSystemObjPathListByPropList(ZqCimConnection& conn,
                                                                          const Pegasus::CIMObjectPath& systemPath,
                                                                          const std::vector<std::string>& deviceIds);

    // --- cluster node
    // 1 and the path of the first node of the cluster, 0 when none.
    int GetPreferredNodeForIBMSVC(ZqCimConnection& conn, const std::string& systemId, std::string& nodePath);
    // 1 and the path of the node "<systemId>:<nodeId>", 0 when there is none.
    int GetPreferredNodeForIBMSVC(ZqCimConnection& conn, const std::string& systemId, const std::string& nodeId,
                                  std::string& nodePath);

    // --- method results
    std::string GetObjectPathString(const Pegasus::CIMObjectPath& objectPath);
    // A 32-bit integer as it is, a decimal text read as a number; any other
    // value (other types, null, text that is not a decimal number) 99999.
    int GetRetVal(const Pegasus::CIMValue& value);
    void PrintParamSet(const Pegasus::Array<Pegasus::CIMParamValue>& params, bool asError);
    Pegasus::CIMValue MakeCimNullVal(Pegasus::CIMType type, bool isArray);
    // The reference in the output parameter "TargetElement" or "TheElement".
    Pegasus::CIMObjectPath GetTargetElementHandle(const Pegasus::Array<Pegasus::CIMParamValue>& params);

    // Reads an instance path; false for a text the library calls malformed
    // (a volume's unique id, for example) and for a path without keys.
    static bool ParseInstancePath(const std::string& text, Pegasus::CIMObjectPath& path);

    // --- text tools (separator-delimited lists; empty pieces dropped)
    static std::vector<std::string> Tokenize(std::string text, char separator);
    static std::vector<std::string> StringToVector(std::string text, char separator);
    static Pegasus::Array<Pegasus::String> InputToStringArray(std::string text, char separator);
    // Pieces that are not decimal numbers from 0 to 65535 are left out.
    static Pegasus::Array<Pegasus::Uint16> InputToIntArray(std::string text, char separator);
    static Pegasus::Array<Pegasus::String> StrVectorToStrArray(const std::vector<std::string>& list);
    static Pegasus::Array<Pegasus::String> StrListToStrArray(const std::list<std::string>& list);

    // Guards the shared volume, concise-volume and hardware-id lists.
    static ZqCriticalSection m_CimUtilLock;

protected:
    // First non-array reference parameter named `name` (or `otherName`), by
    // exact name; empty when none.
    static Pegasus::CIMObjectPath FindReferenceParam(const Pegasus::Array<Pegasus::CIMParamValue>& params,
                                                     const char* name, const char* otherName = nullptr);
    const ErrorTable* errorTable = nullptr;

private:
    // Bodies of the lookups; they raise on provider errors.
    Pegasus::CIMObjectPath FindNameByKey(ZqCimConnection& conn, const char* label, const Pegasus::String& className,
                                         const Pegasus::String& propName, const std::string& value,
                                         const std::string& systemName);
    Pegasus::CIMObjectPath FindByProperty(ZqCimConnection& conn, const char* label, const std::string* systemName,
                                          const Pegasus::String& className, const Pegasus::String& propName,
                                          const Pegasus::String& value, bool exact);
    Pegasus::CIMObjectPath FindSystem(ZqCimConnection& conn, const char* label, const std::string& systemName);
    Pegasus::CIMObjectPath FindBySystemName(ZqCimConnection& conn, const char* label, const std::string& systemName,
                                            const Pegasus::String& className);
    static void ClearHardwareIdCache();
    std::string ConciseVolumePath(ZqCimConnection& conn, const std::string& uuid, const std::string& systemName);
    int CheckByUniqueId(ZqCimConnection& conn, const std::string& systemName, const std::string& uuid);
    int SyncOfTarget(ZqCimConnection& conn, const char* label, const std::string& targetPath,
                     Pegasus::CIMObjectPath& sync, Pegasus::CIMObjectPath& source, std::string& sourceId,
                     const std::string* targetName = nullptr);
    Pegasus::Array<Pegasus::CIMObjectPath> HardwareIdsOfInitiators(ZqCimConnection& conn, const std::string& clusterId,
                                                                   const Pegasus::Array<Pegasus::String>& initiators);
    Pegasus::Array<Pegasus::CIMObjectPath> InitiatorControllers(ZqCimConnection& conn,
                                                                const Pegasus::CIMObjectPath& systemPath,
                                                                const Pegasus::Array<Pegasus::String>& initiators);
    Pegasus::Array<Pegasus::CIMObjectPath> ExposedControllers(ZqCimConnection& conn,
                                                              const Pegasus::CIMObjectPath& systemPath,
                                                              const Pegasus::Array<Pegasus::CIMObjectPath>& volumes,
                                                              const Pegasus::Array<Pegasus::String>& initiators);
    Pegasus::Array<Pegasus::CIMObjectPath> VolumeControllersOf(ZqCimConnection& conn,
                                                               const Pegasus::CIMObjectPath& volume);
};
