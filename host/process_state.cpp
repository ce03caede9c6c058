#include "process_state.h"

namespace cindel {

ProcessState& processState() {
    static ProcessState state;
    return state;
}

}  // namespace cindel
