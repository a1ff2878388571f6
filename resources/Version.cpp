#include "resources/Version.h"

const char* programVersion() {
    return TIDEWELL_VERSION;
}
