#include "server/check/check_facts.h"

namespace orbalin::check {

// The values come from identifiers.cmake and the registration script, as
// compile definitions (see CMakeLists.txt).
Identity BuiltIdentity()
{
    return {ORBALIN_CHECK_PROGID, ORBALIN_CHECK_PROGID_VERSIONED, ORBALIN_CHECK_CLSID, ORBALIN_CHECK_LIBID};
}

}  // namespace orbalin::check
