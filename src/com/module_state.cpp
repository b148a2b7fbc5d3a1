#include "com/object.h"

namespace orvex::com {

ModuleState& ThisModule() {
    static ModuleState state;
    return state;
}

}  // namespace orvex::com
