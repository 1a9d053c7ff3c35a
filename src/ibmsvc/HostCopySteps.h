// Steps the host-side flows (mapped state, map, unmap, revert, reconcile)
// take for each record's copy before they ask the array about it.
#pragma once

#include <string>

#include "IBMSVCSnapshot.h"
#include "IBMSVCUtility.h"
#include "zqso/SnapInfo.h"
#include "zqso/ZQOSUtil.h"

namespace ZQSOIBMSVCAPI {

// One record's turn at its copy in a flow's phases: the record, its unique
// identifier's fields and the snapshot object of its copy.
struct CopyTurn {
    ZQSO::SnapInfo* record = nullptr;
    UniqueId fields;
    IBMSVCSnapshot snap;
};

// The record's unique identifier (metadata 1) split into its fields. An
// unreadable metadata item is logged and read as empty text; false after
// "%s: Failed to parse unique identifier [%s]" (both at level 2).
bool readCopyUniqueId(ZQSO::SnapInfo* record, const char* fn, UniqueId& fields);

// With "IBMSVC_GET_ARRAYID_FROM_DB" at 1 or more, the array that holds the
// copy is looked up again among the host's arrays; a different answer
// replaces fields.arrayId ("IBMSVC cluster IP changed from [%s] to [%s]").
void refreshArrayId(ZQSO::ZQOSUtil* os, ZQSO::SnapInfo* record, UniqueId& fields);

// With "IBMSVC_VOLUME_OBJPATH_CHANGE" non-zero, the object paths of the
// target and source volumes are looked up by their unique ids; each path
// found replaces the stored one in `fields` and in the snapshot.
void refreshVolumePaths(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, UniqueId& fields);

// The snapshot object of a record's copy: bound to the record, given the
// endpoint of fields.arrayId and the copy's volumes and mapping service.
// False after "%s: Failed to initialize the Array parameters" (level 2).
bool snapshotOfCopy(IBMSVCSnapshot& snap, ZQSO::SnapInfo* record, const UniqueId& fields, const char* fn);

// Sets the snapshot's view of the copy: its target and the initiators.
void setCopyView(IBMSVCSnapshot& snap, const UniqueId& fields, const std::string& initiators, bool forMapping);

}  // namespace ZQSOIBMSVCAPI
