#include "cim/CIMPropertyList.h"

namespace Pegasus {

Boolean CIMPropertyList::contains(const CIMName& name) const {
    if (_isNull) return true;
    for (Uint32 i = 0; i < _names.size(); ++i)
        if (_names[i].equal(name)) return true;
    return false;
}

}  // namespace Pegasus
